#pragma once
// The program's windows as the alarm side sees them, each call written to a log; a shown viewer
// counts as open.

#include "core/ports.h"

#include <QStringList>

namespace chimewise::testsupport {

class LoggedWindows final : public NoWindows {
 public:
  explicit LoggedWindows(QStringList& events) : m_events(events) {}
  void SetTimerEnabled(bool on) override { m_events << (on ? "timer on" : "timer off"); }
  void ShowViewer() override {
    m_events << "show viewer";
    open = true;
  }
  void ShowAnnounced(std::uint32_t recno) override {
    m_events << QStringLiteral("show viewer at %1").arg(recno);
    open = true;
  }
  void RefreshViewer() override { m_events << "refresh viewer"; }
  void CloseViewerAndHideCharacter() override { m_events << "close viewer"; }
  bool ViewerOpen() const override { return open; }
  bool open = false;

 private:
  QStringList& m_events;
};

}  // namespace chimewise::testsupport
