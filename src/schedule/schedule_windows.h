#pragma once
// The Schedule Activity dialog as the rest of the program opens it (SchedulePort): it is created
// when shown and destroyed when closed, placed beside an open viewer, filled from the record for
// an edit, and saved through EventSaver. Nothing waits for it: it is opened, and its close is
// handled when it comes. ScheduleOpen is true while it is open. Reminders go on being announced
// while it is open; an edit's save reads the record again and writes only what the user changed
// in the dialog over it, so what was written meanwhile (a snooze, an announced reminder's next
// alarm, a sync) is kept. An edited reminder deleted meanwhile (in the viewer, by the command-line
// tool) is never written over nor brought back unasked: the user chooses between saving the entry
// as a new reminder and dropping it. Every close runs the next-alarm lookup.

#include "core/ports.h"
#include "core/problem.h"
#include "schedule/save_event.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <string>

namespace xbase {
class Engine;
}

namespace chimewise {

class AlarmService;
class Clock;
class EventSaver;
class Prompter;
class ScheduleDialog;
class SettingsStore;
class SpeakerPort;
struct SharedState;

class ScheduleWindows final : public QObject, public SchedulePort {
  Q_OBJECT
 public:
  ScheduleWindows(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock, xbase::Engine& engine,
                  EventSaver& saver, AlarmService& alarms, SpeakerPort& speaker);
  ~ScheduleWindows() override;
  ScheduleWindows(const ScheduleWindows&) = delete;
  ScheduleWindows& operator=(const ScheduleWindows&) = delete;

  // The viewer the dialog is placed beside and which lets go of the table for a save (it is built
  // after this, which it opens). Until one is set, and after it is set to none (before that viewer
  // goes), no viewer is open.
  void setViewer(ViewerPort* viewer) { m_viewer = viewer ? viewer : &m_noViewer; }

  // Shows the dialog (window-modal and of no parent window, so it blocks no other window: the
  // tray, the character and their menus stay in use) for a new reminder or the one at `record`,
  // and returns at once; `closed` runs when it has closed. An edit whose record cannot be read
  // tells why and opens nothing. While a dialog is open, another request only brings it to the
  // front. Both of those return false.
  bool OpenSchedule(std::optional<qint64> record, std::function<void(bool saved)> closed = {}) override;
  // As OpenSchedule for a new reminder, the dialog filled with `values` (Quick Add's More...).
  bool OpenNewSchedule(const EventInput& values);
  void CloseSchedule() override;
  bool ScheduleOpen() const override { return m_open; }

  // The help page of the dialog under the application folder (letter case aside when it exists).
  QString helpPagePath() const;

 signals:
  // The guided tour of the dialog is wanted. While something is connected here, there is a tour: it
  // runs on an activation when the settings' "Schedule" / "ShowHelp" is "1" (the tour itself writes
  // "0" there), and the Help button offers it before the help page. With nothing connected, Help
  // opens the help page at once.
  void tourWanted(ScheduleDialog* dialog);
  // A help page (a path in the application folder) for the user to read.
  void openDocument(const QString& path);
  // A dialog is shown and placed (tests drive it from here).
  void shown(ScheduleDialog* dialog);

 private:
  bool hasTour() const;
  void place(ScheduleDialog& dialog) const;
  void save(ScheduleDialog& dialog);
  // What the dialog holds, over the record as it is stored now (see m_openedWith).
  EventInput merged(const ScheduleDialog& dialog);
  void store(ScheduleDialog& dialog, const EventInput& in);
  void offerToSaveAsNew(ScheduleDialog& dialog, const EventInput& in);
  void help(ScheduleDialog& dialog);
  void tellSkippedTime(const char* what, const QDate& date, const QTime& time);
  void onClosed(ScheduleDialog& dialog);
  // Tells the problems met while a dialog is open, each once; outside it, those of a save's late
  // answer.
  ProblemReporter& reporter() { return m_openReporter ? *m_openReporter : m_closedReporter; }

  SharedState& m_state;
  bool m_open = false;
  SettingsStore& m_settings;
  Prompter& m_prompter;
  Clock& m_clock;
  xbase::Engine& m_engine;
  EventSaver& m_saver;
  AlarmService& m_alarms;
  SpeakerPort& m_speaker;
  NoWindows m_noViewer;
  ViewerPort* m_viewer = &m_noViewer;
  QPointer<ScheduleDialog> m_dialog;
  std::function<void(bool)> m_closed;
  bool m_saved = false;
  // The reminder the open dialog edits (its record and identifier); none for a new one. And what
  // the dialog showed for it when it opened: a save writes over the record as it is then only what
  // differs from this.
  std::optional<qint64> m_editing;
  std::string m_editingId;
  std::optional<EventInput> m_openedWith;
  std::optional<EventInput> m_newValues;  // what a new reminder's dialog opens with (OpenNewSchedule)
  std::optional<ProblemReporter> m_openReporter;
  ProblemReporter m_closedReporter{m_prompter};
};

}  // namespace chimewise
