#include "viewer/viewer_windows.h"

#include "core/shared_state.h"
#include "core/speaker_port.h"

#include <QCoreApplication>
#include <QEvent>

namespace chimewise {

ViewerWindows::ViewerWindows(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                             xbase::Engine& engine, AlarmService& alarms, SpeakerPort& speaker, SchedulePort& schedule,
                             MainTimerPort& timer)
    : m_ctx{state, settings, prompter, clock, engine, alarms, speaker, schedule, timer, m_commands} {}

ViewerWindows::~ViewerWindows() {
  closeNow();
  // The windows hold references into this object: none may outlive it.
  for (const QPointer<viewer::ViewerWindow>& w : m_closing) delete w.data();
}

bool ViewerWindows::ViewerShowsFuture() const { return m_window && m_window->showsFuture(); }

void ViewerWindows::ShowViewer() {
  forgetClosed();
  m_closing.removeAll(nullptr);
  // A window already there may have missed changes to the table while it was out of sight.
  if (m_window)
    m_window->Refresh();
  else
    m_window = new viewer::ViewerWindow(m_ctx);
  if (m_window->isMinimized()) m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
  m_window->show();
  m_window->raise();
  m_window->activateWindow();
}

void ViewerWindows::forgetClosed() {
  // Closed by the user and not yet deleted: a window of its own comes instead.
  if (m_window && m_window->closed()) {
    m_closing.push_back(m_window);
    m_window = nullptr;
  }
}

void ViewerWindows::RefreshViewer() {
  forgetClosed();
  if (m_window) m_window->Refresh();
}

void ViewerWindows::ShowAnnounced(std::uint32_t recno) {
  forgetClosed();
  if (m_window)
    m_window->Refresh();
  else
    ShowViewer();
  if (m_window) m_window->Highlight(recno);
}

void ViewerWindows::closeNow() {
  if (!m_window) return;
  viewer::ViewerWindow* w = m_window.data();
  // Forgotten at once: a viewer shown right after this (the upkeep reopening it) is a new one.
  // The closed window deletes itself at the next turn of the event loop, after any of its own
  // handlers that may be running below this call have returned.
  m_window = nullptr;
  m_closing.push_back(w);
  w->close();
}

void ViewerWindows::CloseViewerAndHideCharacter() {
  closeNow();
  m_ctx.speaker.hide();
}

bool ViewerWindows::CloseViewer() {
  if (!m_window) return false;
  m_window->keepCharacterOnClose();
  closeNow();
  return true;
}

void ViewerWindows::ReopenViewer() { ShowViewer(); }

void ViewerWindows::SaveMemo() {
  // The upkeep closes the viewer next, through CloseViewer, which keeps the character on screen
  // and reopens it afterwards; what the user typed in its memo box is stored before that.
  if (m_window) m_window->SaveMemo();
}

void ViewerWindows::LetGoOfTable() {
  if (m_window) m_window->LetGoOfTable();
}

QRect ViewerWindows::ViewerFrame() const { return m_window ? m_window->frameGeometry() : QRect(); }

void ViewerWindows::ApplyShowFuture(bool showFuture) {
  if (m_window) m_window->ApplyShowFuture(showFuture);
}

}  // namespace chimewise
