#pragma once
// Quick Add: one line ("Call mom tomorrow at 9") read as it is typed, the reading shown under it,
// Enter to save. A thin window over the reading of moments (core/moment_words.h); the save is the
// Schedule Activity dialog's (EventSaver), followed by what the dialog does after one: the
// character writes, the viewer is refreshed, the next alarm is looked up, and the character
// says in one line what it will do. Opened without a modal wait: Open shows it and returns.

#include "core/moment_words.h"
#include "schedule/save_event.h"

#include <QDialog>
#include <QPointer>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace chimewise {

class AlarmService;
class Clock;
class Prompter;
class SpeakerPort;
class ViewerPort;

// The window: a line, the reading under it, Add, More... and Close. Escape closes it.
class QuickAddWindow final : public QDialog {
  Q_OBJECT
 public:
  QuickAddWindow(const Clock& clock, const QString& timeFormat, QWidget* parent = nullptr);

  // The line read at the clock's now.
  LineReading reading() const;

  QLineEdit* line = nullptr;
  QLabel* shown = nullptr;  // the reading, as the line is typed
  QPushButton* addButton = nullptr;
  QPushButton* moreButton = nullptr;

  // The reading of `r` as the window shows it: "Call mom — Wed 9 Dec, 9:00 am, repeats every day",
  // or why it cannot be read.
  static QString ReadingText(const LineReading& r, const QString& timeFormat);

 signals:
  void addClicked();
  void moreClicked();

 private:
  void showReading();

  const Clock& m_clock;
  QString m_timeFormat;
};

// What the character says of a reminder added: "I'll remind you tomorrow at 9 am to call mom."
QString QuickAddConfirmation(const QString& activity, const QDateTime& moment, const QDateTime& now,
                             const QString& repeatText);

// The entry Quick Add saves for a reading: a reminder at the activity's moment, otherwise as a new
// reminder of the dialog starts.
EventInput QuickAddEntry(const LineReading& r);

class QuickAdd {
 public:
  // `more` opens Schedule Activity for a new reminder filled with the given values.
  QuickAdd(Clock& clock, EventSaver& saver, AlarmService& alarms, SpeakerPort& speaker, ViewerPort& viewer,
           Prompter& prompter, std::function<void(const EventInput&)> more);
  ~QuickAdd();

  // Shows the window (or brings the open one to the front) and returns at once.
  void Open();
  bool IsOpen() const { return !m_window.isNull(); }
  QuickAddWindow* window() const { return m_window.data(); }

 private:
  void add(QuickAddWindow& window);

  Clock& m_clock;
  EventSaver& m_saver;
  AlarmService& m_alarms;
  SpeakerPort& m_speaker;
  ViewerPort& m_viewer;
  Prompter& m_prompter;
  std::function<void(const EventInput&)> m_more;
  QPointer<QuickAddWindow> m_window;
};

}  // namespace chimewise
