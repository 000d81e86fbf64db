#include "schedule/schedule_windows.h"

#include "alarms/alarm_service.h"
#include "core/app_paths.h"
#include "core/clock.h"
#include "core/program_events.h"
#include "core/prompts.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "core/shared_state.h"
#include "core/speaker_port.h"
#include "core/time_format.h"
#include "core/window_placement.h"
#include "schedule/save_event.h"
#include "schedule/schedule_dialog.h"
#include "schedule/schedule_rules.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <utility>

namespace chimewise {

namespace {

// The hourglass while the dialog loads, whatever way the loading ends.
struct BusyCursor {
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

ScheduleWindows::ScheduleWindows(SharedState& state, SettingsStore& settings, Prompter& prompter, Clock& clock,
                                 xbase::Engine& engine, EventSaver& saver, AlarmService& alarms, SpeakerPort& speaker)
    : m_state(state),
      m_settings(settings),
      m_prompter(prompter),
      m_clock(clock),
      m_engine(engine),
      m_saver(saver),
      m_alarms(alarms),
      m_speaker(speaker) {}

bool ScheduleWindows::hasTour() const {
  return isSignalConnected(QMetaMethod::fromSignal(&ScheduleWindows::tourWanted));
}

ScheduleWindows::~ScheduleWindows() {
  // A dialog still open goes with its windows, and nobody hears of its close.
  if (!m_dialog) return;
  QObject::disconnect(m_dialog.data(), &QDialog::finished, nullptr, nullptr);
  delete m_dialog.data();
}

bool ScheduleWindows::OpenSchedule(std::optional<qint64> record, std::function<void(bool)> closed) {
  if (m_open) {
    m_dialog->raise();
    m_dialog->activateWindow();
    return false;
  }
  // Problems met from here to the close (the save's lookup, the close's lookup) are told once.
  m_openReporter.emplace(m_prompter);

  ScheduleDialog* dialog = nullptr;
  {
    BusyCursor busy;
    std::optional<EventInput> values;
    std::string id;
    if (record) {
      Problem problem;
      values = ReadEditEntry(m_engine, m_state.AppFolder, *record, &problem, &id);
      if (!values) {
        m_openReporter->Report(problem);
        m_openReporter.reset();
        return false;
      }
    }
    m_open = true;
    m_saved = false;
    m_closed = std::move(closed);
    m_editing = record;
    m_editingId = id;
    dialog = new ScheduleDialog(m_clock, m_alarms.options().timeFormat);
    m_dialog = dialog;
    if (values) dialog->fill(*values);
    if (!record && m_newValues) dialog->fill(*m_newValues);
    if (record) m_openedWith = dialog->entry();
    dialog->adjustSize();
    place(*dialog);
  }

  QObject::connect(dialog, &ScheduleDialog::okClicked, dialog, [this, dialog] { save(*dialog); });
  QObject::connect(dialog, &QDialog::finished, dialog, [this, dialog] { onClosed(*dialog); });
  QObject::connect(dialog, &ScheduleDialog::helpClicked, dialog, [this, dialog] { help(*dialog); });
  QObject::connect(dialog, &ScheduleDialog::soundClicked, dialog,
                   [this](int sound) { m_speaker.PlaySoundEffect(sound); });
  QObject::connect(dialog, &ScheduleDialog::activated, dialog, [this, dialog] {
    if (!hasTour() || m_settings.read(settings::ScheduleShowHelp) != QStringLiteral("1")) return;
    // After the activation has been handled: the tour disables, moves and raises the window, and
    // must not do that inside the window system's activation.
    QTimer::singleShot(0, dialog, [this, dialog] {
      if (hasTour() && m_settings.read(settings::ScheduleShowHelp) == QStringLiteral("1")) emit tourWanted(dialog);
    });
  });

  // Once shown, the window frame's size is known: the placement is made again with it, so the
  // frame too stays on the screen.
  QTimer::singleShot(0, dialog, [this, dialog] {
    if (!dialog->isVisible()) return;  // closed at once
    place(*dialog);
    emit shown(dialog);
  });
  // Window-modal with no parent window, it blocks no other window: the tray icon, the character
  // and their menus (Stop Talking, Go Away, Quit) answer while it is open.
  dialog->open();
  return true;
}

bool ScheduleWindows::OpenNewSchedule(const EventInput& values) {
  m_newValues = values;
  const bool opened = OpenSchedule(std::nullopt);
  m_newValues.reset();
  return opened;
}

void ScheduleWindows::onClosed(ScheduleDialog& dialog) {
  // The dialog goes once its own handlers have returned, and the next alarm is looked for again
  // (unless the program is closing: its tables are closed by now).
  dialog.deleteLater();
  m_open = false;
  m_editing.reset();
  m_editingId.clear();
  m_openedWith.reset();
  if (!m_state.events->closing()) reporter().Report(m_alarms.FindNextAlarm());
  m_openReporter.reset();
  if (auto closed = std::exchange(m_closed, nullptr)) closed(m_saved);
}

void ScheduleWindows::CloseSchedule() {
  if (m_open) m_dialog->reject();
}

QString ScheduleWindows::helpPagePath() const {
  const QString page = QStringLiteral("helpfile/activity.htm");
  return FindPathNoCase(m_state.AppFolder, page).value_or(m_state.AppFolder + QLatin1Char('/') + page);
}

void ScheduleWindows::place(ScheduleDialog& dialog) const {
  const QRect viewer = m_viewer->ViewerOpen() ? m_viewer->ViewerFrame() : QRect();
  const QScreen* screen = viewer.isNull() ? nullptr : QGuiApplication::screenAt(viewer.center());
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const double tpp = TwipsPerPixel(screen->logicalDotsPerInch());
  const auto twips = [tpp](int px) { return static_cast<std::int32_t>(std::lround(px * tpp)); };
  const auto pixels = [tpp](std::int32_t tw) { return static_cast<int>(std::lround(tw / tpp)); };
  const QRect area = screen->geometry();
  std::optional<TwipsRect> viewerTwips;
  if (!viewer.isNull())
    viewerTwips = TwipsRect{twips(viewer.left() - area.left()), twips(viewer.top() - area.top()), twips(viewer.width()),
                            twips(viewer.height())};
  const QSize size = dialog.frameGeometry().size();
  const TwipsPoint at =
      ScheduleOrigin(viewerTwips, twips(size.width()), twips(size.height()), twips(area.width()), twips(area.height()));
  dialog.move(area.left() + pixels(at.left), area.top() + pixels(at.top));
}

EventInput ScheduleWindows::merged(const ScheduleDialog& dialog) {
  EventInput in = dialog.entry();
  if (!m_editing || !m_openedWith) return in;
  Problem problem;
  std::string id;
  const std::optional<EventInput> stored = ReadEditEntry(m_engine, m_state.AppFolder, *m_editing, &problem, &id);
  // Unreadable now, deleted, or another reminder in its place: the save tells why, as it would have.
  if (!stored || id != m_editingId) return in;
  const EventInput& was = *m_openedWith;
  // Each part the user left as it was takes the record's value now.
  if (in.event == was.event) in.event = stored->event;
  // A moment the record no longer holds (no alarm left) keeps the dialog's.
  if (in.activityDate == was.activityDate && in.activityTime == was.activityTime && stored->activityDate.isValid() &&
      stored->activityTime.isValid()) {
    in.activityDate = stored->activityDate;
    in.activityTime = stored->activityTime;
  }
  if (in.activity == was.activity) in.activity = stored->activity;
  if (in.memo == was.memo) in.memo = stored->memo;
  if (in.sound == was.sound) in.sound = stored->sound;
  if (in.remindDate == was.remindDate && in.remindTime == was.remindTime && stored->remindDate.isValid() &&
      stored->remindTime.isValid()) {
    in.remindDate = stored->remindDate;
    in.remindTime = stored->remindTime;
  }
  if (in.repeat == was.repeat) in.repeat = stored->repeat;
  if (in.sayDate == was.sayDate) in.sayDate = stored->sayDate;
  if (in.sayTime == was.sayTime) in.sayTime = stored->sayTime;
  if (in.countdownOn == was.countdownOn && in.countdown == was.countdown) {
    in.countdownOn = stored->countdownOn;
    in.countdown = stored->countdown;
  }
  return in;
}

void ScheduleWindows::save(ScheduleDialog& dialog) {
  const EventInput in = merged(dialog);
  if (!AsksToRemindNow(in, m_clock.now())) return store(dialog, in);
  // The question holds nothing up: its answer comes back here, when the dialog may be gone.
  // Meanwhile OK is not offered twice.
  dialog.okButton->setEnabled(false);
  QPointer<ScheduleDialog> still(&dialog);
  m_prompter.ask(QStringLiteral("This time has already passed. Remind you now?"), QString(), PromptIcon::Question,
                 [this, still, in](bool yes) {
                   if (!still || !still->isVisible()) return;
                   still->okButton->setEnabled(true);
                   if (yes) return store(*still, RemindingNow(in, m_clock.now()));
                   // No: the dialog stays open with the reminder's time ready for correction.
                   still->focusField(SaveField::RemindTime);
                 });
}

void ScheduleWindows::store(ScheduleDialog& dialog, const EventInput& in) {
  if (m_speaker.visible()) {
    m_speaker.play(QStringLiteral("write"));
    m_speaker.play(QStringLiteral("blink"));
  }
  // The save may need the table alone (to convert it for text its code page lacks).
  if (m_viewer->ViewerOpen()) m_viewer->LetGoOfTable();
  const SaveResult r = m_saver.SaveEvent(in, m_editing, m_editingId);
  if (m_viewer->ViewerOpen()) m_viewer->RefreshViewer();
  if (!r.saved && m_editing && r.problem.kind == ProblemKind::NoSuchReminder) return offerToSaveAsNew(dialog, in);
  if (!r.saved) {
    Wording w = Describe(r.problem);
    if (r.problem.kind == ProblemKind::TableBusy)
      w.text += QStringLiteral("\nThe reminder was not saved. What you entered is kept: save it again in a moment.");
    if (!w.text.isEmpty()) m_prompter.notice(w.text, w.title, w.icon);
    dialog.focusField(r.refused);
    return;  // the dialog stays open
  }
  m_saved = true;  // the next alarm is looked up once the dialog closes
  if (r.activityTimeSkipped) tellSkippedTime("activity", in.activityDate, in.activityTime);
  if (r.remindTimeSkipped) tellSkippedTime("reminder", in.remindDate, in.remindTime);
  // A failed lookup after a stored reminder is worth telling; the dialog closes all the same.
  if (!r.problem.ok()) reporter().Report(r.problem);
  // The last sound chosen is kept, though a new dialog always starts at "None".
  m_settings.write(settings::LastSound, QString::number(in.sound));
  dialog.accept();
}

void ScheduleWindows::offerToSaveAsNew(ScheduleDialog& dialog, const EventInput& in) {
  dialog.okButton->setEnabled(false);
  QPointer<ScheduleDialog> still(&dialog);
  m_prompter.ask(QStringLiteral("This reminder was deleted while you were editing it. Save what you entered as a new "
                                "reminder?"),
                 QString(), PromptIcon::Question, [this, still, in](bool yes) {
                   if (!still || !still->isVisible()) return;
                   still->okButton->setEnabled(true);
                   // No: the entry is dropped with the dialog.
                   if (!yes) return still->reject();
                   m_editing.reset();
                   m_editingId.clear();
                   m_openedWith.reset();
                   store(*still, in);
                 });
}

void ScheduleWindows::tellSkippedTime(const char* what, const QDate& date, const QTime& time) {
  const QTime means = AlarmMoment(date, MinuteOfDay(time)).time();
  m_prompter.notice(QStringLiteral("The %1 time %2 does not exist on %3, when the clocks go forward. It was saved, "
                                   "and it means %4.")
                        .arg(QLatin1String(what), FormatTime(time, m_alarms.options().timeFormat),
                             FormatShortDate(date), FormatTime(means, m_alarms.options().timeFormat)));
}

void ScheduleWindows::help(ScheduleDialog& dialog) {
  if (!hasTour()) {
    emit openDocument(helpPagePath());
    return;
  }
  QPointer<ScheduleDialog> still(&dialog);
  m_prompter.ask(QStringLiteral("Would you like a tutorial on how to use this dialog?"),
                 QStringLiteral("Tutorial Help"), PromptIcon::None, [this, still](bool yes) {
                   if (!still || !still->isVisible()) return;
                   if (yes && hasTour()) {
                     emit tourWanted(still.data());
                     return;
                   }
                   emit openDocument(helpPagePath());
                 });
}

}  // namespace chimewise
