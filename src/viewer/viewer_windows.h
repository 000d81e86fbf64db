#pragma once
// The program's Reminder Viewer behind the ViewerPort: it creates the viewer window when it is
// shown and forgets it when it closes (the window deletes itself); ViewerOpen is true exactly
// while a viewer is loaded.

#include "core/ports.h"
#include "viewer/viewer_commands.h"
#include "viewer/viewer_window.h"

#include <QList>
#include <QPointer>
#include <memory>

namespace chimewise {

class ViewerWindows final : public ViewerPort {
 public:
  // Everything is owned by the program and outlives this object. `alarms` reads, snoozes and
  // deletes reminders; `schedule` opens the Schedule Activity dialog for Add and Properties;
  // `timer` is stopped around the About window. The commands built elsewhere are connected to
  // commands() (one left unconnected shows its entry disabled).
  ViewerWindows(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock, xbase::Engine& engine,
                AlarmService& alarms, SpeakerPort& speaker, SchedulePort& schedule, MainTimerPort& timer);
  ~ViewerWindows() override;
  ViewerWindows(const ViewerWindows&) = delete;
  ViewerWindows& operator=(const ViewerWindows&) = delete;

  // ViewerPort
  bool ViewerShowsFuture() const override;
  bool ViewerOpen() const override { return m_ctx.open; }
  // Opens the viewer (or brings the open one to the front, restored from minimized, its list read
  // again).
  void ShowViewer() override;
  void RefreshViewer() override;
  void ShowAnnounced(std::uint32_t recno) override;
  void CloseViewerAndHideCharacter() override;
  bool CloseViewer() override;
  void ReopenViewer() override;
  QRect ViewerFrame() const override;
  void LetGoOfTable() override;

  // Stores the memo being typed in the open viewer; the viewer itself stays (see CloseViewer).
  void SaveMemo();
  // Closes the viewer at shutdown.
  void Unload() { closeNow(); }

  // The Options dialog's Apply: lists every reminder or only the current ones. The choice is
  // remembered by the open viewer when it closes; with no viewer open nothing happens.
  void ApplyShowFuture(bool showFuture);

  // What the viewer asks of the program and tells it; connect before the first ShowViewer.
  viewer::ViewerCommands& commands() { return m_commands; }

  // The open viewer, null when none (for the tours and tests).
  viewer::ViewerWindow* window() const { return m_window.data(); }

 private:
  void forgetClosed();
  void closeNow();

  viewer::ViewerCommands m_commands;
  viewer::ViewerContext m_ctx;
  QPointer<viewer::ViewerWindow> m_window;
  // Closed windows waiting for their deletion.
  QList<QPointer<viewer::ViewerWindow>> m_closing;
};

}  // namespace chimewise
