// Reminders as desktop notifications: the real alarm side and a notification server on a private bus.
#include "shell/desktop_notices.h"

#include "alarms/alarm_service.h"
#include "character/transcript_speaker.h"
#include "core/clock.h"
#include "core/program_options.h"
#include "core/settings_keys.h"
#include "core/settings_store.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "data/table_handle.h"
#include "support/add_reminder.h"
#include "support/event_wait.h"
#include "support/files.h"
#include "support/logged_windows.h"
#include "support/notification_server.h"
#include "support/private_bus.h"
#include "support/qt_app.h"
#include "support/qt_print.h"

#include <QTemporaryDir>
#include <xbase/engine.h>

using namespace chimewise;
using testsupport::NotificationServer;
using testsupport::PrivateBus;
using testsupport::RunEventsFor;
using testsupport::RunEventsUntil;

namespace {

const QDateTime kNow(QDate(2026, 12, 4), QTime(10, 0, 45));

class DesktopNoticesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::EnsureQtApp();
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon could not be started";
    state.AppFolder = dir.path();
    testsupport::CopyEmptyCalendar(dir.path());
    if (::testing::Test::HasFatalFailure()) return;
    data::ApplyStartupSettings(engine);
    speaker.hide();
    alarms = std::make_unique<AlarmService>(state, options, clock, engine, speaker, windows);
    alarms->setViewer(&windows);
    saver = std::make_unique<EventSaver>(state, options, clock, engine);
    saver->randomFraction = [this] { return fraction += 0.01; };
    serverBus = std::make_unique<QDBusConnection>(bus.connect(QStringLiteral("server")));
    notices = std::make_unique<DesktopNotices>(
        state, settings, clock, *alarms, windows, [this] { return conditions; },
        bus.connect(QStringLiteral("program")));
    QObject::connect(notices.get(), &DesktopNotices::snoozeFailed,
                     [this](const Problem& p) { reported << Describe(p).text; });
    QObject::connect(alarms.get(), &AlarmService::announced, notices.get(),
                     [this](const AnnouncedReminder& r) { sentNow += notices->ReminderAnnounced(r) ? 1 : 0; });
    // As the program has it.
    QObject::connect(alarms.get(), &AlarmService::moved, notices.get(), &DesktopNotices::ReminderMoved);
    QObject::connect(alarms.get(), &AlarmService::lookedUp, notices.get(), &DesktopNotices::ReconcileSoon);
  }
  void TearDown() override {
    server.reset();
    notices.reset();
  }
  void startServer() {
    server = std::make_unique<NotificationServer>(*serverBus);
    ASSERT_TRUE(server->registered());
  }
  qint64 add(const QString& text, const QDateTime& activity, const QDateTime& remind) {
    return testsupport::AddReminder(*saver, {text, activity.date(), activity.time(), remind.date(), remind.time()});
  }
  QDateTime at(int h, int m) const { return QDateTime(kNow.date(), QTime(h, m)); }
  // One scan at `now`: how many notifications were sent for what it announced.
  int scanAt(const QDateTime& now) {
    clock.set(now);
    sentNow = 0;
    EXPECT_TRUE(alarms->ScanDueAlarms().ok());
    return sentNow;
  }
  // The record's alarm as stored, "HH:mm", read afresh from the files.
  QString storedAlarm(qint64 recno) {
    xbase::Engine fresh;
    data::ApplyStartupSettings(fresh);
    int area = 0;
    if (!fresh.Use(data::CalendarPath(state.AppFolder).toStdString(), "CHECK", xbase::OpenMode::kShared, &area).ok())
      return "<cannot open>";
    xbase::WorkArea* wa = fresh.Current();
    if (!wa->Go(static_cast<uint32_t>(recno)).ok()) return "<no record>";
    const int minutes = TableInt(*wa, "ALARMTIME");
    return TableText(*wa, "ALARMDATE") + " " + QTime(minutes / 60, minutes % 60).toString("HH:mm");
  }
  PrivateBus bus;
  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  SettingsStore settings{dir.filePath("settings.ini")};
  ManualClock clock{kNow};
  TranscriptSpeaker speaker;
  xbase::Engine engine;
  QStringList events;
  testsupport::LoggedWindows windows{events};
  std::unique_ptr<AlarmService> alarms;
  std::unique_ptr<EventSaver> saver;
  std::unique_ptr<QDBusConnection> serverBus;
  std::unique_ptr<NotificationServer> server;
  std::unique_ptr<DesktopNotices> notices;
  NoticeConditions conditions;  // the character as the test has it: on screen and heard
  QStringList reported;
  int sentNow = 0;
  double fraction = 0.1;
};

}  // namespace

// One change from a character seen and heard, each enough for a notification.
const std::function<void(NoticeConditions&)> kUnseenOrUnheard[] = {
    [](NoticeConditions& c) { c.characterSentAway = true; }, [](NoticeConditions& c) { c.audible = false; },
    [](NoticeConditions& c) { c.canPlaceItself = false; }, [](NoticeConditions& c) { c.characterLoaded = false; }};

TEST(NoticeRule, OnlyWhenTickedOrTheCharacterCannotBeSeenOrHeard) {
  EXPECT_FALSE(ShouldNotifyDesktop(NoticeConditions{}));
  NoticeConditions ticked;
  ticked.alwaysNotify = true;
  EXPECT_TRUE(ShouldNotifyDesktop(ticked));
  for (const auto& change : kUnseenOrUnheard) {
    NoticeConditions c;
    change(c);
    EXPECT_TRUE(ShouldNotifyDesktop(c));
  }
  EXPECT_TRUE(CharacterCanPlaceItself("xcb") && CharacterCanPlaceItself("offscreen"));
  EXPECT_FALSE(CharacterCanPlaceItself("wayland") || CharacterCanPlaceItself("wayland-egl"));
}

// A reminder's moment in the user's format (the day alone without a time) and its memo.
TEST(NoticeTexts, TheActivityLineItsMomentInTheUsersFormatAndTheMemo) {
  ReminderFacts r;
  r.memo = QStringLiteral("Ask about the crown");
  r.eventDate = QDate(2026, 12, 4);
  r.startTime = -1;
  r.activity = QDateTime(r.eventDate, QTime(14, 5));
  const NoticeTexts t = ReminderNoticeTexts(r, QStringLiteral("h:mm"));
  EXPECT_EQ(t.summary + "|" + t.body, "Reminder|12/04/2026\nAsk about the crown");
}

// Sent only when ticked or the character is unseen or unheard, each in place of the one before.
TEST_F(DesktopNoticesTest, SentWhenTheCharacterIsAwayUnheardOrCannotShowItselfOrWhenTicked) {
  startServer();
  add("Dentist", at(10, 30), at(10, 0));
  EXPECT_EQ(scanAt(kNow), 0);
  RunEventsFor(200);
  EXPECT_TRUE(server->calls().empty());
  ASSERT_FALSE(speaker.lines.isEmpty());
  int minute = 0;
  for (const auto& change : kUnseenOrUnheard) {
    conditions = NoticeConditions{};
    change(conditions);
    minute += 10;
    EXPECT_EQ(scanAt(kNow.addSecs(60 * minute)), 1) << minute;
  }
  conditions = NoticeConditions{};
  settings.write(settings::DesktopNotices, QStringLiteral("1"));
  EXPECT_EQ(scanAt(kNow.addSecs(60 * 50)), 1);
  EXPECT_TRUE(RunEventsUntil([&] { return server->calls().size() == 5; }, 10000));
  EXPECT_TRUE(RunEventsUntil([&] { return server->closeCalls().size() == 4; }, 10000));
  const auto calls = server->calls();
  EXPECT_EQ(server->closeCalls(), std::vector<uint>({calls[0].id, calls[1].id, calls[2].id, calls[3].id}));
  EXPECT_EQ(calls[0].summary + " " + calls[0].body, "Dentist 12/04/2026 10:30 am");
  // Each stays until the user acts on it; urgent only once late (10:50 is past 10:30).
  for (const auto& call : calls) {
    EXPECT_EQ(call.expireTimeout, 0);
    EXPECT_TRUE(call.hints.value("resident").toBool());
  }
  EXPECT_EQ(calls[1].hints.value("urgency").value<uchar>(), 1);
  EXPECT_EQ(calls[4].hints.value("urgency").value<uchar>(), 2);
  EXPECT_EQ(calls[0].actions, QStringList({kSnoozeAction, "Snooze 5 Minutes", kViewerAction, "Open Reminder Viewer"}));
}

// Snooze puts the reminder off as the viewer's would; the viewer action opens it; others do nothing.
TEST_F(DesktopNoticesTest, TheSnoozeAndViewerActions) {
  startServer();
  conditions.characterSentAway = true;
  add("Early", at(9, 0), at(9, 0));
  const qint64 dentist = add("Dentist", at(10, 30), at(10, 0));
  EXPECT_EQ(scanAt(kNow), 2);
  ASSERT_TRUE(RunEventsUntil([&] { return server->calls().size() == 2; }, 10000));
  const QString announcedAlarm = storedAlarm(dentist);
  EXPECT_EQ(announcedAlarm, "20261204 10:05");
  clock.set(QDateTime(kNow.date(), QTime(10, 2, 40)));
  events.clear();
  // The reminder falling due now is told first, then the one whose alarm was missed.
  server->invokeAction(server->calls()[0].id, kSnoozeAction);
  ASSERT_TRUE(RunEventsUntil([&] { return storedAlarm(dentist) != announcedAlarm; }, 10000));
  EXPECT_EQ(storedAlarm(dentist), "20261204 10:08");  // 10:02:40 counts from 10:03
  ASSERT_TRUE(RunEventsUntil([&] { return server->closeCalls().size() == 1; }, 10000));
  EXPECT_EQ(server->closeCalls()[0], server->calls()[0].id);  // snoozed: its notification goes
  EXPECT_EQ(alarms->nextAlarm(), QDateTime(kNow.date(), QTime(10, 6)));
  EXPECT_TRUE(events.contains("refresh viewer"));  // the scan had shown the viewer
  EXPECT_TRUE(reported.isEmpty()) << reported.join(", ").toStdString();
  events.clear();
  windows.open = false;  // closed by the user since
  server->invokeAction(server->calls()[1].id, kViewerAction);
  ASSERT_TRUE(RunEventsUntil([&] { return events.contains("show viewer"); }, 10000));
  events.clear();
  server->invokeAction(server->calls()[1].id + 100, kViewerAction);
  server->invokeAction(server->calls()[0].id, QStringLiteral("something-else"));
  RunEventsFor(200);
  EXPECT_TRUE(events.isEmpty()) << events.join(", ").toStdString();
  EXPECT_EQ(storedAlarm(dentist), "20261204 10:08");
  // Snoozed, edited or deleted in the viewer: withdrawn, once.
  notices->ReminderHandled(1);
  notices->ReminderHandled(1);
  ASSERT_TRUE(RunEventsUntil([&] { return server->closeCalls().size() == 2; }, 10000));
  RunEventsFor(200);
  EXPECT_EQ(server->closeCalls(), std::vector<uint>({server->calls()[0].id, server->calls()[1].id}));
}

// A failing automatic sync is told once as a notification, again only after one went well.
TEST_F(DesktopNoticesTest, AFailingSyncIsToldOnceUntilOneGoesWell) {
  startServer();
  EXPECT_TRUE(notices->SyncEnded(false, "The calendar server did not answer"));
  EXPECT_FALSE(notices->SyncEnded(false, "The calendar server did not answer"));
  EXPECT_FALSE(notices->SyncEnded(true, QString()));
  EXPECT_TRUE(notices->SyncEnded(false, "The calendar server refused the user name or password"));
  ASSERT_TRUE(RunEventsUntil([&] { return server->calls().size() == 2; }, 10000));
  EXPECT_EQ(server->calls()[0].summary, kSyncFailedSummary);
  EXPECT_TRUE(server->calls()[1].body.startsWith("The calendar server refused"))
      << server->calls()[1].body.toStdString();
}

// The notifications follow the table whoever writes it (here another program, as the command-line
// tool does): a reminder deleted or put off loses its notification, one renamed has it replaced,
// and the alarm side's own moves leave them standing.
TEST_F(DesktopNoticesTest, NotificationsFollowTheTableWhoeverWritesIt) {
  startServer();
  conditions.characterSentAway = true;
  const qint64 gone = add("Gone", at(10, 30), at(10, 0));
  const qint64 putOff = add("Put off", at(10, 30), at(10, 0));
  const qint64 renamed = add("Renamed", at(10, 30), at(10, 0));
  add("Kept", at(10, 30), at(10, 0));
  EXPECT_EQ(scanAt(kNow), 4);
  ASSERT_TRUE(RunEventsUntil([&] { return server->calls().size() == 4; }, 10000));
  std::map<QString, uint> id;
  for (const auto& call : server->calls()) id[call.summary] = call.id;
  RunEventsFor(300);
  EXPECT_TRUE(server->closeCalls().empty());
  {
    xbase::Engine other;
    data::ApplyStartupSettings(other);
    AlarmService tool(state, options, clock, other, speaker, windows);
    EventSaver toolSaver(state, options, clock, other);
    data::TableHandle table(other, data::CalendarPath(state.AppFolder), "CALENDAR", data::kModeShared);
    ASSERT_TRUE(tool.DeleteReminder(table.get(), gone).ok());
    ASSERT_TRUE(tool.Snooze(table.get(), putOff, 1).alarm.isValid());
    table.Close().IgnoreError();
    ASSERT_TRUE(
        toolSaver
            .SaveEvent({{}, at(10, 30).date(), QTime(10, 30), "Renamed at last", {}, 0, kNow.date(), QTime(10, 5)},
                       renamed)
            .saved);
  }
  // Snoozed from its notification before the notifications followed: nothing to put off, and that is told.
  server->invokeAction(id["Gone"], kSnoozeAction);
  ASSERT_TRUE(RunEventsUntil([&] { return !reported.isEmpty(); }, 10000));
  EXPECT_TRUE(alarms->FindNextAlarm().ok());  // as the program does when told the table changed
  ASSERT_TRUE(RunEventsUntil([&] { return server->closeCalls().size() == 3 && server->calls().size() == 5; }, 10000));
  RunEventsFor(200);
  auto closed = server->closeCalls();
  std::sort(closed.begin(), closed.end());
  EXPECT_EQ(closed, (std::vector<uint>{id["Gone"], id["Put off"], id["Renamed"]}));
  EXPECT_EQ(server->calls().back().summary, "Renamed at last");
}

TEST_F(DesktopNoticesTest, WithoutANotificationServerTheReminderIsStillAnnounced) {
  conditions.characterSentAway = true;
  const qint64 dentist = add("Dentist", at(10, 30), at(10, 0));
  EXPECT_EQ(scanAt(kNow), 1);  // sent off; the missing server answers later
  EXPECT_FALSE(speaker.lines.isEmpty());
  EXPECT_NE(storedAlarm(dentist), "20261204 10:00");  // the alarm moved on as always
  RunEventsFor(500);
  EXPECT_TRUE(reported.isEmpty());
}
