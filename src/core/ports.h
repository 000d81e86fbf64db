#pragma once
// The narrow interfaces through which the logic reaches the parts above it: the main timer and
// the windows. The parts above implement them (the viewer, the Schedule Activity dialog, the
// program for its timer and its windows as a whole) and are handed to the logic directly; the
// command-line tool, which has neither, implements them as absent; tests implement them to watch
// what the logic asks.

#include <QRect>
#include <functional>
#include <optional>

#include <cstdint>

namespace chimewise {

class MainTimerPort {
 public:
  virtual ~MainTimerPort() = default;
  // Stops the main timer while a long routine runs, and starts it again (never once shutdown
  // has begun).
  virtual void SetTimerEnabled(bool on) = 0;
};

class ViewerPort {
 public:
  virtual ~ViewerPort() = default;
  // Whether the open viewer lists every reminder, not only the current ones.
  virtual bool ViewerShowsFuture() const = 0;
  virtual void ShowViewer() = 0;
  // Re-reads the open viewer's list after the table changed.
  virtual void RefreshViewer() = 0;
  // After reminders were announced: opens the viewer, or re-reads the open one, with the
  // reminder announced last highlighted (Read and Snooze act on it).
  virtual void ShowAnnounced(std::uint32_t recno) = 0;
  // Closes a viewer the alarm scan opened for nothing, and hides the character.
  virtual void CloseViewerAndHideCharacter() = 0;
  // Closes the viewer for the table's upkeep; true when it was open (ReopenViewer brings it back).
  virtual bool CloseViewer() = 0;
  virtual void ReopenViewer() = 0;
  // The open viewer's frame on the screen (dialogs are placed beside it); null when it is closed.
  virtual QRect ViewerFrame() const = 0;
  // Whether a viewer is loaded (shown, and not closed since).
  virtual bool ViewerOpen() const = 0;
  // Lets go of the table for a change that needs it alone (a save that converts it to take new
  // text): the open viewer stores its memo and closes the table; RefreshViewer opens it again.
  virtual void LetGoOfTable() = 0;
};

class SchedulePort {
 public:
  virtual ~SchedulePort() = default;
  // Shows the Schedule Activity dialog for the reminder at `record` (none: a new reminder) and
  // returns at once: true when it opened. `closed` runs once it has closed, with true when a
  // reminder was saved; never when nothing opened.
  virtual bool OpenSchedule(std::optional<qint64> record, std::function<void(bool saved)> closed = {}) = 0;
  // Closes the dialog when it is open, as if cancelled (the optimize command does this).
  virtual void CloseSchedule() = 0;
  // Whether the dialog is open.
  virtual bool ScheduleOpen() const = 0;
};

// The program's windows as a whole, for the table's upkeep and the shutdown.
class WindowsPort {
 public:
  virtual ~WindowsPort() = default;
  // Closes the dialogs that edit settings, and stores the memo typed in an open viewer.
  virtual void CloseDialogs() = 0;
  // Unloads every window at shutdown.
  virtual void UnloadWindows() = 0;
};

// For callers without windows (the command-line tool, and a part built before the viewer until
// it is given one): no viewer is ever open, so there is nothing to show, refresh, close or reopen.
class NoWindows : public MainTimerPort, public ViewerPort, public WindowsPort {
 public:
  void SetTimerEnabled(bool) override {}
  bool ViewerShowsFuture() const override { return false; }
  void ShowViewer() override {}
  void RefreshViewer() override {}
  void ShowAnnounced(std::uint32_t) override {}
  void CloseViewerAndHideCharacter() override {}
  bool CloseViewer() override { return false; }
  void ReopenViewer() override {}
  QRect ViewerFrame() const override { return {}; }
  bool ViewerOpen() const override { return false; }
  void LetGoOfTable() override {}
  void CloseDialogs() override {}
  void UnloadWindows() override {}
};

}  // namespace chimewise
