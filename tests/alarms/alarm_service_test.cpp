// The alarm side over a real reminder table: lookups, scans, saves, snoozes and deletes.
#include "alarms/alarm_service.h"
#include "alarms/repeat_series.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/shared_state.h"
#include "core/timer_tick.h"
#include "data/calendar.h"
#include "data/kept_events.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "schedule/save_event.h"
#include "support/add_reminder.h"
#include "support/files.h"
#include "support/logged_windows.h"
#include "support/qt_print.h"
#include "support/table_lock_holder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

#include "support/xbase_fault_env.h"
#include "support/xbase_raw_files.h"

using namespace chimewise;

namespace {

const QDateTime kNow(QDate(2026, 12, 4), QTime(10, 0, 45));
const QDate kSpring(2026, 3, 29);  // Europe/Berlin: 02:00 CET becomes 03:00 CEST

class AlarmServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "alarm-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    state.AppFolder = dir.path();
    testsupport::CopyEmptyCalendar(dir.path());
    if (::testing::Test::HasFatalFailure()) return;
    reopen(nullptr);
    speaker.hide();  // a hidden character: saves and snoozes play no animation
  }
  void reopen(xbase::Env* env) {
    saver.reset();
    alarms.reset();
    EXPECT_TRUE(!engine || engine->CloseAll().ok());
    engine = std::make_unique<xbase::Engine>(env);
    data::ApplyStartupSettings(*engine);
    alarms = std::make_unique<AlarmService>(state, options, clock, *engine, speaker, windows);
    alarms->setViewer(&windows);
    saver = std::make_unique<EventSaver>(state, options, clock, *engine);
    saver->randomFraction = [] { return 0.25; };
  }
  // Activity and alarm on `day` (wall times as typed), the alarm on `remindDay` when given.
  qint64 add(const QString& text, QTime activity, QTime remind, int countdown = 0, QDate day = kNow.date(),
             QDate remindDay = {}) {
    return testsupport::AddReminder(
        *saver, {text, day, activity, remindDay.isValid() ? remindDay : day, remind, QString(), countdown});
  }
  QDateTime at(int h, int m) const { return QDateTime(kNow.date(), QTime(h, m)); }
  // One tick of the main timer at `now`: whether it scanned, and what the scan returned.
  bool tick(const QDateTime& now, Problem* outcome) {
    clock.set(now);
    TickInputs in;
    in.nextAlarmTime = alarms->nextAlarm().value_or(QDateTime());
    if (!DecideTick(in, now).scanAlarms) return false;
    *outcome = alarms->ScanDueAlarms();
    return true;
  }
  // The reminder table opened by `e`, an engine of the test's own; nullptr when it cannot be.
  xbase::WorkArea* fresh(xbase::Engine& e) {
    data::ApplyStartupSettings(e);
    int area = 0;
    const std::string path = data::CalendarPath(state.AppFolder).toStdString();
    return e.Use(path, "CHECK", xbase::OpenMode::kShared, &area).ok() ? e.Current() : nullptr;
  }
  // Every live record as "APPT_TEXT@ALARMTIME#length of REC_NO", read afresh from the files.
  QStringList liveRecords() {
    xbase::Engine e;
    xbase::WorkArea* wa = fresh(e);
    QStringList out;
    for (xbase::Status s = wa ? wa->GoTop() : xbase::Status::NotFound("table"); s.ok() && !wa->Eof(); s = wa->Skip(1))
      out << TableText(*wa, "APPT_TEXT") + "@" + QString::number(TableInt(*wa, "ALARMTIME")) + "#" +
                 QString::number(TableText(*wa, "REC_NO").size());
    return wa ? out : QStringList{"<cannot open>"};
  }
  QString field(qint64 rec, const char* name) {
    xbase::Engine e;
    xbase::WorkArea* wa = fresh(e);
    return wa && wa->Go(static_cast<uint32_t>(rec)).ok() ? TableText(*wa, name) : "<none>";
  }
  EventInput input(const QString& text, QTime activityTime, QTime remindTime, const QString& memo = {}) {
    EventInput in;
    std::tie(in.activity, in.memo, in.activityTime, in.remindTime) = std::tie(text, memo, activityTime, remindTime);
    in.activityDate = in.remindDate = kNow.date();
    return in;
  }
  SaveResult save(const EventInput& in, std::optional<qint64> editing = std::nullopt) {
    return saver->SaveEvent(in, editing);
  }
  Problem deleteReminder(qint64 rec) {
    const data::TableHandle table(*engine, data::CalendarPath(state.AppFolder), "CALENDAR", data::kModeShared);
    EXPECT_TRUE(table.ok());
    return alarms->DeleteReminder(table.get(), rec);
  }
  // Ticks every 3 s from `from` to `to`, the character's lines heard as the clock moves.
  void runTimed(AlarmService& service, const QDateTime& from, const QDateTime& to) {
    static_cast<void>(service.FindNextAlarm());
    for (QDateTime t = from; t <= to; t = t.addSecs(3)) {
      clock.set(t);
      timed.settle();
      TickInputs in;
      in.nextAlarmTime = service.nextAlarm().value_or(QDateTime());
      if (DecideTick(in, t).scanAlarms) {
        EXPECT_TRUE(service.ScanDueAlarms().ok());
      }
    }
  }
  // When each line of `timed` matching `pattern` was heard.
  QList<QTime> heardAt(const QString& pattern) {
    const QRegularExpression re("^Speak: .*" + pattern);
    QList<QTime> at;
    for (const auto& h : timed.heard())
      if (re.match(h.line).hasMatch()) at << h.at.time();
    return at;
  }
  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  ManualClock clock{kNow};
  TranscriptSpeaker speaker;
  TimedTranscriptSpeaker timed{clock};
  std::unique_ptr<xbase::Engine> engine;
  QStringList events;
  // The main timer and the windows, as the alarm side sees them: every request is logged.
  testsupport::LoggedWindows windows{events};
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<EventSaver> saver;
};

}  // namespace

// The next alarm, looked up after each save (as every caller of a save does), follows saves, edits
// (in place, keeping the record's identifier) and deletes.
TEST_F(AlarmServiceTest, TheNextAlarmFollowsSavesEditsAndDeletes) {
  const auto next = [&] {
    EXPECT_TRUE(alarms->FindNextAlarm().ok());
    return alarms->nextAlarm();
  };
  EXPECT_EQ(next(), std::nullopt);
  const qint64 dentist = add("Dentist", QTime(15, 0), QTime(14, 0));
  EXPECT_EQ(next(), at(14, 0));
  add("Coffee", QTime(11, 0), QTime(10, 55));
  EXPECT_EQ(next(), at(10, 55));
  add("Ancient", QTime(16, 0), QTime(9, 0), 0, kNow.date(), QDate(1979, 12, 31));  // before 1980: never found
  EXPECT_EQ(next(), at(10, 55));
  const QString id = field(dentist, "REC_NO");
  ASSERT_TRUE(save(input("Dentist, moved", QTime(16, 0), QTime(10, 50)), dentist).saved);
  EXPECT_EQ(next(), at(10, 50));
  EXPECT_EQ(field(dentist, "REC_NO") + field(dentist, "APPT_TEXT"), id + "Dentist, moved");

  EXPECT_TRUE(deleteReminder(dentist).ok());
  EXPECT_EQ(deleteReminder(dentist).kind, ProblemKind::NoSuchReminder);  // already gone
  EXPECT_TRUE(alarms->FindNextAlarm().ok());
  EXPECT_EQ(alarms->nextAlarm(), at(10, 55));
  EXPECT_EQ(liveRecords(), (QStringList{"Coffee@655#13", "Ancient@540#13"}));

  QDir(dir.filePath("data")).removeRecursively();
  EXPECT_EQ(alarms->FindNextAlarm().kind, ProblemKind::MissingFolder);
  EXPECT_EQ(alarms->nextAlarm(), std::nullopt);
}

// A save of many notes on each kept calendar event when it was saved, and takes its alarm as the
// user's only where the save changed it (an announcement or a snooze moved the table's).
TEST_F(AlarmServiceTest, ASaveOfManyNotesItOnEachKeptEvent) {
  const qint64 one = add("One", QTime(15, 0), QTime(14, 0));
  clock.set(kNow.addSecs(1));  // another record identifier
  const qint64 recs[] = {one, add("Two", QTime(16, 0), QTime(15, 0))};
  const KeptEvents kept(state.AppFolder);
  KeptEvent k;
  std::tie(k.uid, k.hasUserAlarm, k.userAlarmDate, k.userAlarmTime) = std::tuple("u", true, kNow.date(), 600);
  for (qint64 rec : recs) ASSERT_TRUE(kept.Put(field(rec, "REC_NO").toLatin1(), k).ok());
  clock.set(kNow.addSecs(60));
  for (const SaveResult& r : saver->SaveEvents(
           {{input("One", QTime(15, 0), QTime(14, 0)), recs[0]}, {input("Two", QTime(16, 0), QTime(13, 30)), recs[1]}}))
    ASSERT_TRUE(r.saved && r.problem.ok());
  for (const auto& [rec, alarm] : {std::pair(recs[0], 600), std::pair(recs[1], 810)}) {
    const KeptEvent noted = kept.Get(field(rec, "REC_NO").toLatin1()).value_or(KeptEvent());
    EXPECT_EQ(std::pair(noted.userAlarmTime, noted.savedAt), std::pair(alarm, kNow.addSecs(60)));
  }
}

// A table kept in its code page refuses text outside it with the characters named, never storing
// "?"; otherwise the table becomes UTF-8 at the first such text (the old one kept) and holds it whole,
// refusing by its width in bytes a text too long, with the characters that fit.
TEST_F(AlarmServiceTest, TextOutsideTheCodePageIsRefusedOrTheTableBecomesUtf8) {
  options.keepTableCodePage = true;
  const QString greek = QString::fromUtf8("Συνάντηση at the caf\xC3\xA9");
  SaveResult r = save(input(greek, QTime(11, 0), QTime(11, 0)));
  EXPECT_EQ(r.refused, SaveField::Activity);
  EXPECT_EQ(r.problem.kind, ProblemKind::CharactersNotSupported);
  EXPECT_EQ(r.problem.subject, QString::fromUtf8("Σ υ ν ά τ η σ"));  // é is in the code page
  // A cake emoji in the memo; the euro sign fits.
  r = save(
      input("Call home", QTime(11, 0), QTime(11, 0), QString::fromUtf8("Bring \xF0\x9F\x8E\x82 and \xE2\x82\xAC 5")));
  EXPECT_EQ(r.refused, SaveField::Memo);
  EXPECT_EQ(r.problem.subject, QString::fromUtf8("\xF0\x9F\x8E\x82"));
  EXPECT_TRUE(liveRecords().isEmpty());

  options.keepTableCodePage = false;
  r = save(input(greek, QTime(11, 0), QTime(11, 0), QString::fromUtf8("\xF0\x9F\x8E\x82")));
  ASSERT_TRUE(r.problem.ok()) << r.problem.detail.toStdString();
  EXPECT_EQ(liveRecords(), QStringList{greek + "@660#13"});
  EXPECT_TRUE(QFile::exists(state.AppFolder + "/data/CALENDAR_cp1252.DBF"));
  // 120 bytes hold 40 characters of three bytes each, never 40 and a half.
  const QString devanagari = QString(41, QChar(0x0915));
  r = save(input(devanagari, QTime(11, 0), QTime(11, 0)));
  EXPECT_EQ(std::tuple(r.refused, r.problem.kind, r.problem.number),
            std::tuple(SaveField::Activity, ProblemKind::TextTooLong, 40LL));
  ASSERT_TRUE(save(input(devanagari.left(40), QTime(11, 0), QTime(11, 0))).problem.ok());
  EXPECT_EQ(liveRecords().last(), devanagari.left(40) + "@660#13");
}

// A save whose n-th write fails, for n = 0, 1, ... until one goes through, leaves no trace and is told.
TEST_F(AlarmServiceTest, ASaveThatFailsPartWayLeavesNoHalfRecord) {
  add("Kept", QTime(12, 0), QTime(11, 0));
  EXPECT_TRUE(engine->CloseAll().ok());
  const QStringList before = liveRecords();
  QTemporaryDir pristine;
  const char* files[] = {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"};
  for (const char* f : files) ASSERT_TRUE(QFile::copy(dir.filePath("data/") + f, pristine.filePath(f)));
  xbase::FaultInjectionEnv faulty(xbase::Env::Default());
  int n = 0;
  for (;; ++n) {
    ASSERT_LT(n, 400) << "no save went through";
    EXPECT_TRUE(engine->CloseAll().ok());
    for (const char* f : files) {
      QFile::remove(dir.filePath("data/") + f);
      ASSERT_TRUE(QFile::copy(pristine.filePath(f), dir.filePath("data/") + f));
    }
    reopen(&faulty);
    faulty.FailAfter(n);
    const int64_t faultsBefore = faulty.faults();
    const SaveResult r = save(input("Maybe", QTime(13, 0), QTime(12, 30), "a memo that goes to the memo file"));
    faulty.FailAfter(-1);
    reopen(nullptr);
    if (r.saved) {
      EXPECT_EQ(liveRecords(), before + QStringList{"Maybe@750#13"}) << "write " << n;
      break;
    }
    EXPECT_GT(faulty.faults(), faultsBefore) << "write " << n << " failed without an injected fault";
    EXPECT_EQ(liveRecords(), before) << "a failure at write " << n << " left a trace";
    EXPECT_EQ(r.problem.kind, ProblemKind::Engine) << "a failure at write " << n << " was not reported";
    // An index caught half way is rebuilt at the next start; then table and index agree again.
    if (!data::CalendarIndexProblem(*engine, data::CalendarPath(state.AppFolder)).ok()) {
      EXPECT_TRUE(engine->CloseAll().ok());
      ASSERT_TRUE(data::RebuildDatabase(*engine, state.AppFolder).ok());
    }
    xbase::Engine e;
    std::vector<std::string> report;
    EXPECT_TRUE(fresh(e)->Check(&report).ok()) << "write " << n;
  }
  EXPECT_GT(n, 5);  // a save makes many writes; each one failed once
}

// A save of many: a refused reminder among good ones is told and stops none of them, and a failure
// at any write leaves each reminder whole or absent (an edited one as it was) and the index in
// step with the records (at once, or after the rebuild a half-updated index gets at the next start).
TEST_F(AlarmServiceTest, ASaveOfManyKeepsEachReminderWholeWhicheverWriteFails) {
  const qint64 kept = add("Kept", QTime(12, 0), QTime(11, 0));
  EXPECT_TRUE(engine->CloseAll().ok());
  QTemporaryDir pristine;
  const char* files[] = {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"};
  for (const char* f : files) ASSERT_TRUE(QFile::copy(dir.filePath("data/") + f, pristine.filePath(f)));
  const std::vector<EventWrite> writes = {
      {input("First", QTime(13, 0), QTime(12, 30), "a memo that goes to the memo file"), std::nullopt},
      {input(" ", QTime(13, 0), QTime(12, 30)), std::nullopt},  // nothing to say: refused
      {input("Kept moved", QTime(14, 0), QTime(13, 30)), kept},
      {input("Second", QTime(15, 0), QTime(14, 30), "another memo"), std::nullopt}};
  xbase::FaultInjectionEnv faulty(xbase::Env::Default());
  int n = 0;
  for (;; ++n) {
    ASSERT_LT(n, 600) << "the saves never all went through";
    EXPECT_TRUE(engine->CloseAll().ok());
    for (const char* f : files) {
      QFile::remove(dir.filePath("data/") + f);
      ASSERT_TRUE(QFile::copy(pristine.filePath(f), dir.filePath("data/") + f));
    }
    reopen(&faulty);
    faulty.FailAfter(n);
    const int64_t faultsBefore = faulty.faults();
    const std::vector<SaveResult> r = saver->SaveEvents(writes);
    faulty.FailAfter(-1);
    reopen(nullptr);
    ASSERT_EQ(r.size(), writes.size());
    EXPECT_FALSE(r[1].saved);
    EXPECT_EQ(r[1].problem.kind, ProblemKind::EmptyActivity) << "write " << n;
    QStringList expected{r[2].saved ? "Kept moved@810#13" : "Kept@660#13"};
    if (r[0].saved) expected << "First@750#13";
    if (r[3].saved) expected << "Second@870#13";
    EXPECT_EQ(liveRecords(), expected) << "write " << n;
    for (size_t i : {0u, 2u, 3u})
      if (r[i].saved) {
        EXPECT_EQ(field(r[i].recno, "REC_NO"), data::FromTableText(r[i].recordId)) << "write " << n;
      }
    // Made in one save at one moment (the random digits here always the same): each its own.
    if (r[0].saved && r[3].saved) {
      EXPECT_NE(r[0].recordId, r[3].recordId) << "write " << n;
    }
    // An index the engine trusts agrees with the records; one it does not is rebuilt at the next
    // start, and then agrees too.
    const bool allSaved = r[0].saved && r[2].saved && r[3].saved && r[0].problem.ok();
    for (const bool rebuilt : {false, true}) {
      xbase::Engine e;
      xbase::WorkArea* wa = fresh(e);
      ASSERT_NE(wa, nullptr);
      if (!wa->IndexStatus().ok()) {
        EXPECT_FALSE(rebuilt || allSaved) << "write " << n << ": " << wa->IndexStatus().ToString();
        EXPECT_TRUE(e.CloseAll().ok() && engine->CloseAll().ok());
        ASSERT_TRUE(data::RebuildDatabase(*engine, state.AppFolder).ok());
        continue;
      }
      std::vector<std::string> report;
      EXPECT_TRUE(wa->Check(&report).ok()) << "write " << n << ": " << (report.empty() ? "" : report.front());
      break;
    }
    if (allSaved) break;
    EXPECT_GT(faulty.faults(), faultsBefore) << "write " << n << " failed without an injected fault";
  }
  EXPECT_GT(n, 10);  // the saves make many writes; each one failed once
}

TEST_F(AlarmServiceTest, ScanAnnouncesDueRemindersInAlarmOrderThenShowsTheViewer) {
  const qint64 second = add("Second", QTime(9, 58), QTime(9, 58));
  add("First", QTime(9, 55), QTime(9, 55));
  add("Early bird", QTime(12, 0), QTime(10, 0), 30);  // a countdown alarm, activity ahead
  add("Not yet", QTime(12, 0), QTime(11, 0));
  events.clear();
  EXPECT_TRUE(alarms->ScanDueAlarms().ok());
  // What falls due this minute first; then, in alarm order, what was missed, in one line.
  EXPECT_EQ(speaker.lines, (QStringList{"Speak: Early bird. In 2 hours",
                                        "Speak: First. You're 5 minutes late. Second. You're 2 minutes late."}));
  // The due reminder said last is the one the viewer highlights (a countdown is not due yet).
  EXPECT_EQ(events, (QStringList{"timer off", QStringLiteral("show viewer at %1").arg(second), "timer on"}));
  EXPECT_EQ(alarms->nextAlarm(), at(10, 6));  // the late ones come back after the wait time
  // Many missed at once: a few to a line.
  for (int n = 1; n <= 5; ++n) add(QStringLiteral("Missed %1").arg(n), QTime(9, 50), QTime(9, 50));
  speaker.lines.clear();
  EXPECT_TRUE(alarms->ScanDueAlarms().ok());
  EXPECT_EQ(speaker.lines.size(), 2) << speaker.lines.join('|').toStdString();
}

// Judged by when each line is heard: a late reminder comes back on its own schedule, never because
// another fell due; a reminder falling due goes before everything queued (several in one minute as
// one line), and the repeats of many late ones are one line.
TEST_F(AlarmServiceTest, LateRemindersRepeatOnTheirOwnScheduleAndNewOnesAreHeardOnTime) {
  AlarmService heard(state, options, clock, *engine, timed, windows);
  heard.setViewer(&windows);
  add("First", QTime(10, 0), QTime(10, 0));
  add("Second", QTime(10, 1), QTime(10, 1));
  add("Third", QTime(10, 2), QTime(10, 2));
  runTimed(heard, at(9, 59).addSecs(59), at(10, 12));
  EXPECT_EQ(heardAt("First"), (QList<QTime>{QTime(10, 0, 2), QTime(10, 5, 2), QTime(10, 10, 2)}));
  EXPECT_EQ(heardAt("Third"), (QList<QTime>{QTime(10, 2, 2), QTime(10, 7, 2)}));

  // Thirty more, told at 11:00 and late since; the character reads a long text meanwhile.
  for (int n = 1; n <= 30; ++n) add(QStringLiteral("Errand %1").arg(n), QTime(11, 0), QTime(11, 0));
  runTimed(heard, at(10, 12), at(11, 19));
  for (int n = 0; n < 60; ++n) timed.SayText("A line of a long text read aloud meanwhile");  // three minutes
  for (int m = 20; m <= 23; ++m) add(QStringLiteral("New at 11:%1").arg(m), QTime(11, m), QTime(11, m));
  for (int n = 1; n <= 5; ++n)
    add(QStringLiteral("Take the blue folder with the papers to the post office, number %1").arg(n), QTime(11, 22),
        QTime(11, 22));
  runTimed(heard, at(11, 19), at(11, 30));
  const auto firstHeard = [&](const QString& text, QTime due) {
    const QList<QTime> at = heardAt(text);
    return at.isEmpty() ? 999 : due.secsTo(at.first());
  };
  for (int m = 20; m <= 23; ++m) EXPECT_LE(firstHeard(QStringLiteral("New at 11:%1").arg(m), QTime(11, m)), 15) << m;
  for (int n = 1; n <= 5; ++n) EXPECT_LE(firstHeard(QStringLiteral("Take.*number %1").arg(n), QTime(11, 22)), 15) << n;
  EXPECT_EQ(heardAt("Errand 7").size(), 1);  // told once, then within one line for all
  // The repeats go ahead of the long text too, after what falls due, each on its own schedule.
  EXPECT_EQ(heardAt("You have [0-9]+ late reminders"),
            (QList<QTime>{QTime(11, 5, 3), QTime(11, 10, 3), QTime(11, 15, 3), QTime(11, 20, 6), QTime(11, 25, 3),
                          QTime(11, 28, 3)}));
}

// A reminder counts as told once heard: a telling dropped unheard is told again at the next tick
// (one the voice failed to say, a few times in a row at most), one the user stopped is not, and one
// the program never finished saying moves nothing, so the next start tells it at once.
TEST_F(AlarmServiceTest, AReminderCountsAsToldOnceItWasHeard) {
  auto heard = std::make_unique<AlarmService>(state, options, clock, *engine, timed, windows);
  heard->setViewer(&windows);
  const qint64 plumber = add("Call the plumber about the leak under the sink", QTime(10, 0), QTime(10, 0));
  using H = SpeakerPort::Hearing;
  const auto toldAndStopped = [&](const QDateTime& told, H how) {
    runTimed(*heard, told.addSecs(-3), told);
    clock.set(told.addSecs(1));
    timed.stop(how);
  };
  toldAndStopped(at(10, 0).addSecs(2), H::Unheard);  // dropped for another feature's speech
  runTimed(*heard, at(10, 0).addSecs(5), at(10, 1));
  EXPECT_EQ(heardAt("Call the plumber"), (QList<QTime>{QTime(10, 0, 2), QTime(10, 0, 5)}));
  EXPECT_EQ(field(plumber, "ALARMTIME").trimmed(), "605");  // counted from when it was heard
  toldAndStopped(at(10, 5).addSecs(2), H::Silenced);        // Stop Talking: dealt with
  runTimed(*heard, at(10, 5).addSecs(5), at(10, 9));
  EXPECT_EQ(heardAt("Call the plumber").size(), 3);
  EXPECT_EQ(field(plumber, "ALARMTIME").trimmed(), "610");

  runTimed(*heard, at(10, 10).addSecs(-1), at(10, 10).addSecs(2));  // told as the program ends
  heard.reset();
  EXPECT_EQ(field(plumber, "ALARMTIME").trimmed(), "610");
  heard = std::make_unique<AlarmService>(state, options, clock, *engine, timed, windows);
  heard->setViewer(&windows);
  runTimed(*heard, at(10, 10).addSecs(30), at(10, 10).addSecs(30));
  EXPECT_EQ(heardAt("Call the plumber").back(), QTime(10, 10, 30));  // the next start tells it at once

  // A voice that keeps failing: told again twice, then it waits for its repeat.
  clock.set(at(10, 10).addSecs(31));
  timed.stop(H::Failed);
  for (int n = 0; n < 2; ++n) toldAndStopped(clock.now().addSecs(5), H::Failed);
  runTimed(*heard, clock.now(), at(10, 14));
  EXPECT_EQ(heardAt("Call the plumber").size(), 7);
}

// What comes of a telling once it is heard has no caller: it is news. A move that waits for the
// table (held by another program) is told as failed, then made at the next scan as stored.
TEST_F(AlarmServiceTest, WhatFollowsOnceATellingIsHeardIsNews) {
  engine->settings().lock_wait_ms = data::kInteractiveLockWaitMs;
  AlarmService heard(state, options, clock, *engine, timed, windows);
  heard.setViewer(&windows);
  QStringList news;
  QObject::connect(&heard, &AlarmService::moved, [&](const AnnouncedReminder& r) { news << r.facts.activityText; });
  QObject::connect(&heard, &AlarmService::failedAfterHearing,
                   [&](const Problem& p) { news << (p.kind == ProblemKind::TableBusy ? "busy" : "other"); });
  const qint64 plumber = add("Call the plumber", QTime(10, 0), QTime(10, 0));
  runTimed(heard, at(9, 59).addSecs(59), at(10, 0).addSecs(2));
  testsupport::TableLockHolder holder(data::CalendarPath(state.AppFolder).toStdString());
  ASSERT_TRUE(holder.holdTable());
  clock.set(at(10, 0).addSecs(30));
  timed.settle();
  EXPECT_EQ(news, QStringList{"busy"});
  holder.release();
  runTimed(heard, clock.now().addSecs(3), clock.now().addSecs(3));
  EXPECT_EQ(news, (QStringList{"busy", "Call the plumber"}));
  EXPECT_EQ(field(plumber, "ALARMTIME").trimmed(), "605");
}

// Snoozed by its record identifier: found again after a pack moved it, left alone once deleted.
TEST_F(AlarmServiceTest, AnAnnouncedReminderIsSnoozedByItsIdAlsoAfterAPackMovedIt) {
  double fraction = 0.1;
  saver->randomFraction = [&fraction] { return fraction += 0.1; };
  std::vector<AnnouncedReminder> heard;
  QObject::connect(alarms.get(), &AlarmService::announced,
                   [&heard](const AnnouncedReminder& r) { heard.push_back(r); });
  const qint64 gone = add("Gone soon", QTime(11, 0), QTime(10, 30));
  const qint64 dentist = add("Dentist", QTime(10, 30), QTime(10, 0));
  EXPECT_TRUE(alarms->ScanDueAlarms().ok());
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0].recno, dentist);

  ASSERT_TRUE(deleteReminder(gone).ok());
  ASSERT_TRUE(RepairCalendarIndex(engine->env(), state.AppFolder).ok());  // packs: the dentist is record 1 now
  clock.set(QDateTime(kNow.date(), QTime(10, 3, 0)));
  EXPECT_EQ(alarms->SnoozeAnnounced(heard[0].recno, heard[0].recordId, 1).alarm, at(10, 8));
  EXPECT_EQ(liveRecords(), QStringList{"Dentist@608#13"});
  EXPECT_EQ(alarms->nextAlarm(), at(10, 8));

  EXPECT_EQ(alarms->SnoozeAnnounced(1, QStringLiteral("E-unknown-id"), 1).problem.kind, ProblemKind::NoSuchReminder);
  ASSERT_TRUE(deleteReminder(1).ok());
  clock.set(QDateTime(kNow.date(), QTime(10, 20, 0)));
  EXPECT_EQ(alarms->SnoozeAnnounced(1, heard[0].recordId, 1).problem.kind, ProblemKind::NoSuchReminder);
}

// A missing, damaged or foreign index met while the program runs is rebuilt and the lookup goes on.
TEST_F(AlarmServiceTest, ADamagedIndexIsRebuiltOnceAndAFailureIsToldOnce) {
  add("Dentist", QTime(11, 0), QTime(10, 45));
  const std::string cdx = dir.filePath("data/CALENDAR.CDX").toStdString();
  const auto expectLookupFinds = [&](const char* how) {
    const Problem p = alarms->FindNextAlarm();
    EXPECT_TRUE(p.ok()) << how << ": " << Describe(p).text.toStdString();
    EXPECT_EQ(alarms->nextAlarm(), at(10, 45)) << how;
    EXPECT_TRUE(data::CalendarIndexProblem(*engine, data::CalendarPath(state.AppFolder)).ok()) << how;
  };
  using xbase::testing::WriteAll;
  std::filesystem::remove(cdx);
  expectLookupFinds("missing index");
  WriteAll(cdx, xbase::testing::ReadAll(cdx).replace(600, 512, std::string(512, '\x5A')));
  expectLookupFinds("damaged index");
  WriteAll(cdx, "not an index at all");
  EXPECT_TRUE(alarms->ScanDueAlarms().ok());  // the scan repairs it too
  EXPECT_EQ(alarms->nextAlarm(), at(10, 45));
  WriteAll(cdx, xbase::testing::ForeignIndex());
  const Problem told = alarms->FindNextAlarm();
  EXPECT_EQ(told.kind, ProblemKind::ForeignIndexReplaced);
  expectLookupFinds("after the foreign index");
}

// The skipped 02:30 means 03:30: after 03:05 though its key sorts first, for lookup, scan and timer.
TEST_F(AlarmServiceTest, OnTheNightTheClocksGoForwardAlarmsComeInRealTimeOrder) {
  add("Night shift", QTime(2, 30), QTime(2, 30), 0, kSpring);
  add("Early train", QTime(3, 5), QTime(3, 5), 0, kSpring);
  add("Dishwasher", QTime(1, 55), QTime(3, 5), 0, kSpring);
  clock.set(QDateTime(kSpring, QTime(1, 0)));
  EXPECT_TRUE(alarms->FindNextAlarm().ok());
  EXPECT_EQ(alarms->nextAlarm(), QDateTime(kSpring, QTime(3, 5)));
  speaker.lines.clear();
  clock.set(QDateTime(kSpring, QTime(3, 5, 10)));
  EXPECT_TRUE(alarms->ScanDueAlarms().ok());
  // Lateness counts real minutes: 01:55 CET to 03:05 CEST is ten.
  EXPECT_EQ(speaker.lines, (QStringList{"Speak: Early train", "Speak: Dishwasher. You're 10 minutes late."}));
  clock.set(QDateTime(kSpring, QTime(3, 30, 10)));
  EXPECT_TRUE(alarms->ScanDueAlarms().ok());
  EXPECT_TRUE(speaker.lines.contains("Speak: Night shift")) << speaker.lines.join('|').toStdString();
}

// The night the clocks go back (02:00-03:00 twice): a time typed in the second run means the second
// run, a snooze of a minute is a minute, and a late reminder's repeat goes on every five minutes.
TEST_F(AlarmServiceTest, OnTheNightTheClocksGoBackTimesMeanTheRunTheyWereMeantFor) {
  const QDate back(2027, 10, 31);
  const auto utc = [&](int h, int m, int s = 0) { return QDateTime(back, QTime(h, m, s), Qt::UTC).toLocalTime(); };
  // When each line was said, ticking every 3 s from `from` to `to`.
  std::vector<std::pair<QDateTime, QString>> said;
  const auto run = [&](const QDateTime& from, const QDateTime& to) {
    ASSERT_TRUE(alarms->FindNextAlarm().ok());
    for (QDateTime t = from; t <= to; t = t.addSecs(3)) {
      speaker.lines.clear();
      Problem outcome;
      if (tick(t, &outcome)) {
        EXPECT_TRUE(outcome.ok());
      }
      for (const QString& l : speaker.lines) said.emplace_back(t, l);
    }
  };
  add("Late since 01:45", QTime(1, 45), QTime(1, 45), 0, back);
  clock.set(utc(1, 10));  // 02:10, the second run
  add("Typed for 02:25", QTime(2, 25), QTime(2, 25), 0, back);
  run(utc(23, 40, 0).addDays(-1), utc(2, 30));
  QList<QDateTime> late;
  std::optional<std::pair<QDateTime, QString>> typed;
  for (const auto& [t, l] : said) {
    if (l.startsWith("Speak: Late since")) late << t;
    if (l.startsWith("Speak: Typed") && !typed) typed.emplace(t, l);
  }
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->first, utc(1, 25, 3));
  EXPECT_EQ(typed->second, "Speak: Typed for 02:25");  // due now, not "45 minutes late"
  ASSERT_GE(late.size(), 20);
  for (int i = 1; i < late.size(); ++i)
    EXPECT_LE(late[i - 1].secsTo(late[i]), 5 * 60 + 3) << late[i].toString(Qt::ISODate).toStdString();

  // A snooze of one minute in the second run waits one minute.
  clock.set(utc(1, 40, 5));
  {
    const data::TableHandle table(*engine, data::CalendarPath(state.AppFolder), "CALENDAR", data::kModeShared);
    EXPECT_EQ(alarms->Snooze(table.get(), 1, 0).alarm, utc(1, 41));
  }
  EXPECT_EQ(alarms->nextAlarm(), utc(1, 41));
}

// Another program holds the table: lookups, scans and saves give up, write nothing, go on once it is free.
TEST_F(AlarmServiceTest, WhileAnotherProgramHoldsTheTableNothingIsLostOrWritten) {
  engine->settings().lock_wait_ms = data::kInteractiveLockWaitMs;
  add("Due", QTime(10, 0), QTime(10, 0));
  add("Later", QTime(12, 0), QTime(11, 0));
  const QStringList before = liveRecords();
  testsupport::TableLockHolder holder(data::CalendarPath(state.AppFolder).toStdString());
  ASSERT_TRUE(holder.holdTable());
  EXPECT_EQ(alarms->FindNextAlarm().kind, ProblemKind::TableBusy);
  EXPECT_EQ(alarms->nextAlarm(), clock.now());  // the next tick scans, and so looks again
  const EventInput dentist = input("Dentist", QTime(16, 0), QTime(15, 30));
  EXPECT_EQ(save(dentist).problem.kind, ProblemKind::TableBusy);
  speaker.lines.clear();
  for (int n = 0; n < 4; ++n) {
    Problem outcome;
    ASSERT_TRUE(tick(clock.now().addSecs(3), &outcome)) << "tick " << n << ": the scan was not kept due";
    EXPECT_EQ(outcome.kind, ProblemKind::TableBusy) << n;
    EXPECT_TRUE(speaker.lines.isEmpty()) << speaker.lines.join('|').toStdString();
  }
  holder.release();
  EXPECT_FALSE(holder.guardFired()) << "a wait for the table had no deadline";
  EXPECT_EQ(liveRecords(), before);

  // The first tick after the table is free announces the held-back alarm.
  Problem outcome;
  ASSERT_TRUE(tick(clock.now().addSecs(3), &outcome));
  EXPECT_TRUE(outcome.ok()) << Describe(outcome).text.toStdString();
  ASSERT_EQ(speaker.lines.size(), 1) << speaker.lines.join('|').toStdString();
  EXPECT_EQ(alarms->nextAlarm(), at(10, 6));  // moved on by the wait time, as any late alarm
  ASSERT_TRUE(save(dentist).saved);
  EXPECT_EQ(liveRecords().size(), 3);
}

// A repeat starts at its rule's first occurrence from the activity on; a rule that cannot be
// followed, or has no occurrence left, is refused with nothing saved.
TEST_F(AlarmServiceTest, ARepeatStandsAtItsFirstOccurrenceOrIsRefused) {
  const QDateTime tuesday(QDate(2026, 12, 8), QTime(12, 0));
  const std::pair<const char*, QDateTime> cases[] = {
      {"FREQ=WEEKLY;BYDAY=MO,TH", QDateTime(QDate(2026, 12, 10), QTime(12, 0))},
      {"FREQ=DAILY;COUNT=3", tuesday},
      {"FREQ=WEEKLY;INTERVAL=2", tuesday},
      {"FREQ=MONTHLY;BYDAY=-1FR", QDateTime(QDate(2026, 12, 25), QTime(12, 0))},
      {"FREQ=YEARLY;BYMONTH=3;BYMONTHDAY=14", QDateTime(QDate(2027, 3, 14), QTime(12, 0))},
      {"FREQ=DAILY;UNTIL=20261201T000000Z", QDateTime()}};
  for (const auto& [rule, first] : cases)
    EXPECT_EQ(FirstRepeatOccurrence(rule, tuesday).value_or(QDateTime()), first) << rule;
  for (const char* bad : {"FREQ=FORTNIGHTLY", "FREQ=DAILY;BYFOO=1", "FREQ=DAILY;UNTIL=20261201T000000Z"}) {
    EventInput in = input("Bad", QTime(12, 0), QTime(12, 0));
    in.repeat = bad;
    const SaveResult r = save(in);
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(r.problem.kind, ProblemKind::RepeatRuleNotUnderstood) << bad;
  }
  EXPECT_TRUE(liveRecords().isEmpty());
  EXPECT_TRUE(RepeatRuleProblem("FREQ=FORTNIGHTLY").value_or("").contains("FREQ")) << "names the part";
}

// A repeat made here is a series of its own in the kept store; changing its rule keeps its UID and
// exceptions; a save that changes nothing keeps its start; clearing it leaves a one-off reminder.
TEST_F(AlarmServiceTest, ARepeatIsKeptAsASeriesChangedInPlaceAndCleared) {
  EventInput in = input("Pills", QTime(8, 0), QTime(7, 50));
  in.activityDate = in.remindDate = QDate(2026, 12, 7);  // a Monday
  in.repeat = "FREQ=DAILY";
  const SaveResult made = save(in);
  ASSERT_TRUE(made.saved);
  const KeptEvents store(state.AppFolder);
  const QByteArray id = QByteArray::fromStdString(made.recordId);
  const auto series = [&] { return store.Get(id).value_or(KeptEvent()).series; };
  EXPECT_EQ(series(),
            (QStringList{"DTSTART;TZID=Europe/Berlin:20261207T080000", "RRULE:FREQ=DAILY", "X-CHIMEWISE-LEAD:600"}));
  EXPECT_EQ(SeriesSummary(series(), options.timeFormat), "every day at 8:00 am");
  // The reminder moved on to Wednesday and one occurrence was taken out; the server's UID is kept.
  KeptEvent k = *store.Get(id);
  k.uid = "phone-uid";
  k.series.insert(2, "EXDATE;TZID=Europe/Berlin:20261208T080000");
  ASSERT_TRUE(store.Put(id, k).ok());
  in.activityDate = in.remindDate = QDate(2026, 12, 9);
  ASSERT_TRUE(save(in, made.recno).saved);
  EXPECT_EQ(series(), k.series) << "nothing changed";
  in.repeat = "FREQ=WEEKLY;BYDAY=WE,FR";
  in.remindTime = QTime(7, 30);
  ASSERT_TRUE(save(in, made.recno).saved);
  EXPECT_EQ(series(), (QStringList{"DTSTART;TZID=Europe/Berlin:20261209T080000", "RRULE:FREQ=WEEKLY;BYDAY=WE,FR",
                                   "EXDATE;TZID=Europe/Berlin:20261208T080000", "X-CHIMEWISE-LEAD:1800"}));
  EXPECT_EQ(store.Get(id)->uid, "phone-uid");
  // A calendar's rule with parts not made here is the series' own: kept as it is.
  k = *store.Get(id);
  k.series[1] = "RRULE:FREQ=YEARLY;BYWEEKNO=50;BYDAY=WE";
  ASSERT_TRUE(store.Put(id, k).ok());
  in.repeat = "FREQ=YEARLY;BYWEEKNO=50;BYDAY=WE";
  in.memo = "edited";
  ASSERT_TRUE(saver->SaveEvent(in, made.recno, made.recordId).saved);
  EXPECT_EQ(series(), k.series);
  in.repeat.clear();
  ASSERT_TRUE(save(in, made.recno).saved);
  EXPECT_EQ(series(), QStringList());
  EXPECT_EQ(store.Get(id)->uid, "phone-uid");
}

// The real scan under a clock moved a minute at a time: a daily 08:00 is told at 08:00 on each of
// three days across the change to summer time, once (then nagged about as late until the next
// replaces it); occurrences slept through are said once together, and the series goes on.
TEST_F(AlarmServiceTest, EachOccurrenceIsToldOnceAndThoseMissedAwayOnceTogether) {
  const QDate saturday(2027, 3, 27);  // the clocks go forward in the night to Sunday
  EventInput pills = input("Take the pills", QTime(8, 0), QTime(8, 0));
  pills.activityDate = pills.remindDate = saturday;
  pills.repeat = "FREQ=DAILY;COUNT=3";
  clock.set(QDateTime(saturday, QTime(7, 0)));
  ASSERT_TRUE(save(pills).saved);
  ASSERT_TRUE(alarms->FindNextAlarm().ok());
  QStringList told;  // "when: line" of every line that is not a late one
  qsizetype heard = 0;
  const auto runTo = [&](const QDateTime& from, const QDateTime& to) {
    for (QDateTime t = from; t <= to; t = t.addSecs(60)) {
      Problem p;
      if (tick(t, &p)) {
        EXPECT_TRUE(p.ok()) << Describe(p).text.toStdString();
      }
      for (; heard < speaker.lines.size(); ++heard)
        if (!speaker.lines[heard].contains("late")) told << t.toString("MM-dd HH:mm t: ") + speaker.lines[heard];
    }
  };
  runTo(QDateTime(saturday, QTime(7, 0, 30)), QDateTime(saturday.addDays(2), QTime(9, 30)));
  EXPECT_EQ(told, (QStringList{"03-27 08:00 CET: Speak: Take the pills", "03-28 08:00 CEST: Speak: Take the pills",
                               "03-29 08:00 CEST: Speak: Take the pills"}));

  told.clear();
  EventInput stretch = input("Stretch", QTime(10, 0), QTime(10, 0));
  stretch.activityDate = stretch.remindDate = saturday.addDays(2);
  stretch.repeat = "FREQ=HOURLY";
  ASSERT_TRUE(save(stretch).saved);
  ASSERT_TRUE(alarms->FindNextAlarm().ok());
  const QDateTime monday(saturday.addDays(2), QTime(9, 31, 30));
  runTo(monday, monday.addSecs(31 * 60));
  runTo(monday.addSecs(3 * 3600 + 31 * 60), monday.addSecs(4 * 3600 + 30 * 60));  // three hours asleep from 10:02
  EXPECT_EQ(told, (QStringList{"03-29 10:00 CEST: Speak: Stretch",
                               "03-29 13:02 CEST: Speak: While you were away, 3 occurrences of Stretch went by; the "
                               "next is today at 2:00 pm.",
                               "03-29 14:00 CEST: Speak: Stretch"}));
}
