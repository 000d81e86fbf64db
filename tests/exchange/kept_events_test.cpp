// A phone's event synced in stays the phone's event: announcing or snoozing its reminder puts
// nothing on the server, and an edit here changes only what was edited. Through the real sync
// against Radicale, the phone played by a second client.
#include "exchange/calendar_sync.h"

#include "exchange/calendar_import.h"

#include "alarms/alarm_service.h"
#include "character/speaker.h"
#include "core/clock.h"
#include "core/ports.h"
#include "core/shared_state.h"
#include "data/calendar.h"
#include "data/reminder_record.h"
#include "schedule/save_event.h"
#include "support/files.h"
#include "support/radicale_server.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <xbase/engine.h>
#include <gtest/gtest.h>

using namespace chimewise;
using testsupport::RadicaleServer;

namespace {

// Monday 4 January 2027, 8:00 here (Europe/Berlin); the meeting is Tuesday 9:00 in New York
// (15:00 here), with an alarm 30 minutes before it and one 5 minutes before its end.
const QDateTime kNow(QDate(2027, 1, 4), QTime(8, 0));

const QByteArray kMeeting =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Phone//Calendar 7//EN\r\n"
    "BEGIN:VEVENT\r\nUID:meet-1@phone\r\nDTSTAMP:20270101T120000Z\r\n"
    "DTSTART;TZID=America/New_York:20270105T090000\r\nDTEND;TZID=America/New_York:20270105T110000\r\n"
    "SUMMARY:Design review\r\nLOCATION:Room 4\r\nURL:https://example.org/review\r\nPRIORITY:1\r\n"
    "ATTENDEE;CN=Jane Doe;PARTSTAT=ACCEPTED:mailto:jane@example.org\r\nX-PHONE-COLOR:#ff0000\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Soon\r\nTRIGGER:-PT30M\r\nEND:VALARM\r\n"
    "BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER;RELATED=END:-PT5M\r\nEND:VALARM\r\n"
    "END:VEVENT\r\nEND:VCALENDAR\r\n";

class KeptEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "kept-events-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    if (const QString why = RadicaleServer::Unavailable(); !why.isEmpty()) GTEST_SKIP() << why.toStdString();
    state.AppFolder = dir.filePath("app");
    testsupport::CopyEmptyCalendar(state.AppFolder);
    ASSERT_FALSE(HasFatalFailure());
    data::ApplyStartupSettings(engine);
    speaker.hide();
    server = std::make_unique<RadicaleServer>(testsupport::RadicaleOptions{"anna", "pw", {}, {}});
    ASSERT_TRUE(server->ready()) << server->error().toStdString();
    phone.url = server->url("/anna/reminders/");
    phone.user = "anna";
    phone.password = "pw";
    ASSERT_TRUE(caldav::Session(phone).makeCalendar(phone.url, "Reminders").ok());
    href = phone.url.resolved(QUrl("meet.ics"));
    ASSERT_TRUE(caldav::Session(phone).create(href, kMeeting).status.ok());
  }
  void TearDown() override { engine.CloseAll().IgnoreError(); }

  SyncReport sync() {
    CalendarSync pass(ReminderStore{state, clock, engine, speaker, alarms, windows},
                      std::make_unique<BlockingCalDav>(phone), phone.url);
    SyncReport report;
    pass.finished = [&](const SyncReport& r) { report = r; };
    pass.Start();
    return report;
  }
  // The meeting as the server has it now.
  caldav::CalendarObject onServer() {
    const caldav::Objects o = caldav::Session(phone).fetch(phone.url, {href});
    return o.objects.isEmpty() ? caldav::CalendarObject() : o.objects.first();
  }
  // The reminder the meeting became: its record number and identifier.
  std::pair<qint64, QString> reminder() {
    int area = 0;
    EXPECT_TRUE(OpenCalendar(engine, state.AppFolder, "LOOK", &area).ok());
    xbase::WorkArea& wa = *engine.Area(area);
    EXPECT_TRUE(wa.SetOrder(0).ok());
    EXPECT_TRUE(wa.GoTop().ok());
    std::string id;
    EXPECT_TRUE(wa.GetString("REC_NO", &id).ok());
    const std::pair<qint64, QString> found{wa.RecNo(), QString::fromLatin1(id.c_str())};
    data::CloseTableIfOpen(engine, "LOOK");
    return found;
  }

  // The reminder at `recno` (the first one) as the dialog would show it.
  EventInput stored(qint64 recno = 1) {
    int area = 0;
    EventInput in;
    if (OpenCalendar(engine, state.AppFolder, "LOOK", &area).ok() && engine.Area(area)->Go(recno).ok() &&
        !engine.Area(area)->Deleted())
      in = StoredReminder(*engine.Area(area));
    data::CloseTableIfOpen(engine, "LOOK");
    return in;
  }

  QTemporaryDir dir;
  SharedState state;
  ProgramOptions options;
  ManualClock clock{kNow};
  xbase::Engine engine;
  TranscriptSpeaker speaker;
  NoWindows windows;
  AlarmService alarms{state, options, clock, engine, speaker, windows, windows};
  EventSaver saver{state, clock, engine, speaker, alarms, windows};
  std::unique_ptr<RadicaleServer> server;
  caldav::Settings phone;
  QUrl href;
};

TEST_F(KeptEventsTest, AnnouncingAndSnoozingPutNothingAndAnEditChangesOnlyWhatWasEdited) {
  ASSERT_EQ(sync().pulledNew, 1);
  const caldav::CalendarObject before = onServer();
  ASSERT_FALSE(before.data.isEmpty());

  // The first alarm comes (14:30 here), is announced, and is snoozed; the next sync moves nothing.
  clock.set(QDateTime(QDate(2027, 1, 5), QTime(14, 30)));
  AlarmService::ScanCounts counts;
  ASSERT_TRUE(alarms.ScanDueAlarms(&counts).ok());
  ASSERT_EQ(counts.stored, 1) << "the announcement moved the reminder's alarm";
  const auto [recno, recordId] = reminder();
  ASSERT_TRUE(alarms.SnoozeAnnounced(recno, recordId, 2).alarm.isValid());
  SyncReport quiet = sync();
  EXPECT_TRUE(quiet.ok()) << SyncProblemText(quiet).toStdString();
  EXPECT_EQ(quiet.pushedChanged, 0);
  EXPECT_EQ(onServer().etag.toStdString(), before.etag.toStdString());
  EXPECT_EQ(onServer().data.toStdString(), before.data.toStdString());

  // The activity is edited here: only SUMMARY (and the event's change stamps) differ on the server.
  int area = 0;
  ASSERT_TRUE(OpenCalendar(engine, state.AppFolder, "EDIT", &area).ok());
  ASSERT_TRUE(engine.Area(area)->Go(static_cast<uint32_t>(recno)).ok());
  EventInput edited = StoredReminder(*engine.Area(area));
  data::CloseTableIfOpen(engine, "EDIT");
  edited.activity = "Design review (bring slides)";
  ASSERT_TRUE(saver.SaveEvent(edited, recno).saved);
  const SyncReport pushed = sync();
  EXPECT_EQ(pushed.pushedChanged, 1) << SyncProblemText(pushed).toStdString();
  const QByteArray after = onServer().data;
  const auto lines = [](const QByteArray& text) {
    std::string out;
    for (const QString& l : QString::fromUtf8(text).remove('\r').replace("\n ", "").split('\n', Qt::SkipEmptyParts))
      if (!l.startsWith("DTSTAMP") && !l.startsWith("LAST-MODIFIED") && !l.startsWith("SUMMARY"))
        out += l.toStdString() + '\n';
    return out;
  };
  EXPECT_EQ(lines(after), lines(before.data));
  EXPECT_TRUE(after.contains("SUMMARY:Design review (bring slides)")) << after.constData();

  // The meeting is over (17:00 here) but its reminder still waits to be dealt with: the phone's
  // change to it is taken, not dropped as past.
  clock.set(QDateTime(QDate(2027, 1, 5), QTime(17, 30)));
  QByteArray renamed = after;
  renamed.replace("SUMMARY:Design review (bring slides)", "SUMMARY:Design review: send the notes");
  ASSERT_TRUE(caldav::Session(phone).update(href, renamed, onServer().etag).status.ok());
  EXPECT_EQ(sync().pulledChanged, 1);
  EXPECT_EQ(stored().activity.toStdString(), "Design review: send the notes");
}

// Changed on both sides: the later change stays in place, here as there (the other becomes the
// conflicting copy); a moved occurrence of a series on the phone is the one announced.
TEST_F(KeptEventsTest, TheLaterChangeWinsAndAMovedOccurrenceIsAnnounced) {
  ASSERT_EQ(sync().pulledNew, 1);
  const auto [recno, recordId] = reminder();
  clock.set(QDateTime(QDate(2027, 1, 4), QTime(9, 0)));
  EventInput mine = stored();
  mine.activity = "Design review (mine)";
  ASSERT_TRUE(saver.SaveEvent(mine, recno).saved);
  // The phone's change, an hour after the one made here.
  QByteArray theirs = onServer().data;
  theirs.replace("SUMMARY:Design review", "SUMMARY:Design review (theirs)\r\nLAST-MODIFIED:20270104T090000Z");
  ASSERT_TRUE(caldav::Session(phone).update(href, theirs, onServer().etag).status.ok());
  clock.set(QDateTime(QDate(2027, 1, 4), QTime(11, 0)));
  const SyncReport r = sync();
  EXPECT_EQ(r.conflicts, 1) << SyncProblemText(r).toStdString();
  EXPECT_TRUE(onServer().data.contains("SUMMARY:Design review (theirs)"));
  EXPECT_EQ(stored(recno).activity.toStdString(), "Design review (theirs)");

  // A daily stand-up at 10:00 New York; tomorrow's is moved to 12:00 on the phone.
  const QUrl standup = phone.url.resolved(QUrl("standup.ics"));
  ASSERT_TRUE(caldav::Session(phone)
                  .create(standup,
                          "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Phone//EN\r\nBEGIN:VEVENT\r\nUID:standup\r\n"
                          "DTSTAMP:20270101T120000Z\r\nDTSTART:20270104T150000Z\r\nRRULE:FREQ=DAILY\r\n"
                          "SUMMARY:Stand-up\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:standup\r\n"
                          "DTSTAMP:20270101T120000Z\r\nRECURRENCE-ID:20270105T150000Z\r\nDTSTART:20270105T170000Z\r\n"
                          "SUMMARY:Stand-up\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
                  .status.ok());
  clock.set(QDateTime(QDate(2027, 1, 4), QTime(17, 0)));  // today's has gone by
  ASSERT_EQ(sync().pulledNew, 1);
  bool found = false;
  for (qint64 n = 1; n <= 4; ++n)
    if (const EventInput in = stored(n); in.activity == "Stand-up") {
      found = true;
      EXPECT_EQ(QDateTime(in.activityDate, in.activityTime), QDateTime(QDate(2027, 1, 5), QTime(18, 0)));
    }
  EXPECT_TRUE(found);
}

}  // namespace
