// The calendar's own events kept whole by the sync, over Radicale and Xandikos: events a phone
// made with everything a reminder has no field for (an end or a length, a place, a link, a
// priority, guests, two alarms, one of them before the end, properties of its own, a zone of
// another country) come here; a snooze here changes nothing on the server, and an edit of the
// activity's text here changes its SUMMARY and nothing else.
#include "exchange/real_sync_fixture.h"

#include "alarms/alarm_service.h"
#include "support/event_wait.h"

#include <QStringList>

#include <optional>

namespace chimewise::testsupport {
namespace {

const QByteArray kZone =
    "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\nBEGIN:STANDARD\r\nDTSTART:20071104T020000\r\n"
    "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\r\nTZOFFSETFROM:-0400\r\nTZOFFSETTO:-0500\r\nTZNAME:EST\r\n"
    "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:20070311T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\r\n"
    "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0400\r\nTZNAME:EDT\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";

// A phone's event, starting at 09:00 New York on 12 January 2027 (15:00 here), with `length` (a
// DTEND or a DURATION line).
QByteArray PhoneEvent(const QByteArray& uid, const QByteArray& summary, const QByteArray& length) {
  return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Phone//EN\r\n" + kZone + "BEGIN:VEVENT\r\nUID:" + uid +
         "\r\nDTSTAMP:20270101T100000Z\r\nLAST-MODIFIED:20270101T100000Z\r\nSEQUENCE:2\r\n"
         "DTSTART;TZID=America/New_York:20270112T090000\r\n" +
         length + "SUMMARY:" + summary +
         "\r\nLOCATION:Room 4\\, second floor\r\nURL:https://example.org/meetings/42\r\nPRIORITY:1\r\n"
         "ATTENDEE;CN=Sue;ROLE=REQ-PARTICIPANT;PARTSTAT=ACCEPTED:mailto:sue@example.org\r\n"
         "ORGANIZER;CN=Tom:mailto:tom@example.org\r\nX-PHONE-COLOUR:teal\r\nX-MOZ-GENERATION:3\r\n"
         "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Soon\r\nTRIGGER:-PT30M\r\nEND:VALARM\r\n"
         "BEGIN:VALARM\r\nACTION:AUDIO\r\nTRIGGER;RELATED=END:-PT5M\r\nX-PHONE-SOUND:chime\r\nEND:VALARM\r\n"
         "END:VEVENT\r\nEND:VCALENDAR\r\n";
}

// The lines of a resource with its long lines unfolded, but for its SUMMARY and those an edit may
// stamp anew.
QStringList Lines(const QByteArray& text) {
  QStringList kept;
  for (const QString& line : QString::fromUtf8(text).replace(QLatin1String("\r\n "), QString()).split(u'\n')) {
    const QString l = line.trimmed();
    if (l.startsWith(QLatin1String("DTSTAMP:")) || l.startsWith(QLatin1String("LAST-MODIFIED:"))) continue;
    if (l.startsWith(QLatin1String("SUMMARY:"))) continue;
    kept << line;
  }
  return kept;
}

class SyncKeepsEventsTest : public RealSyncFixture {};

TEST_P(SyncKeepsEventsTest, ASnoozeChangesNothingThereAndAnEditChangesOnlyItsSummary) {
  const struct {
    const char* summary;
    QByteArray length;
  } events[] = {{"Board meeting", "DTEND;TZID=America/New_York:20270112T110000\r\n"},
                {"Lunch", "DURATION:PT1H30M\r\n"}};
  std::map<QString, QString> hrefs;
  for (const auto& e : events)
    hrefs[e.summary] = QString::fromUtf8(
        phone({"create"}, PhoneEvent(QByteArray(e.summary).replace(' ', '-') + "@phone.example", e.summary, e.length))
            .trimmed());
  const SyncReport first = sync();
  ASSERT_TRUE(first.ok()) << Told(first);
  ASSERT_EQ(first.pulledNew, int(std::size(events))) << Told(first);

  for (const auto& e : events) {
    SCOPED_TRACE(e.summary);
    const QString href = hrefs.at(e.summary);
    const QByteArray before = phone({"get", href});
    ASSERT_TRUE(before.contains("LOCATION:")) << before.toStdString();

    // (a) The alarm goes off 30 minutes before, is announced and is snoozed, as the program does it.
    clock.set(QDateTime(QDate(2027, 1, 12), QTime(14, 31)));
    ASSERT_TRUE(alarms.ScanDueAlarms().ok());
    const auto [recno, in] = table().at(e.summary);
    data::TableHandle snoozing = data::TableHandle::Calendar(engine, state.AppFolder, "SNOOZE");
    ASSERT_TRUE(snoozing.ok());
    const AlarmService::SnoozeOutcome snoozed = alarms.Snooze(snoozing.get(), recno, 0);
    snoozing.Close().IgnoreError();
    ASSERT_TRUE(snoozed.alarm.isValid()) << Describe(snoozed.problem).text.toStdString();
    const SyncReport afterSnooze = sync();
    EXPECT_TRUE(afterSnooze.ok()) << Told(afterSnooze);
    EXPECT_EQ(afterSnooze.pushedChanged + afterSnooze.conflicts, 0) << Told(afterSnooze);
    EXPECT_EQ(phone({"get", href}).toStdString(), before.toStdString());

    // (b) Its text edited here: SUMMARY changes there, and no other line.
    edit(e.summary, [&](EventInput& changed) { changed.activity = QString(e.summary) + " moved"; });
    const SyncReport afterEdit = sync();
    EXPECT_TRUE(afterEdit.ok()) << Told(afterEdit);
    EXPECT_EQ(afterEdit.pushedChanged, 1) << Told(afterEdit);
    const QByteArray after = phone({"get", href});
    EXPECT_TRUE(after.contains("SUMMARY:" + QByteArray(e.summary) + " moved")) << after.toStdString();
    EXPECT_EQ(Lines(after).join(u'\n').toStdString(), Lines(before).join(u'\n').toStdString());
  }
}

// A reminder announced and still waiting here takes the phone's change though its event is past;
// changed on both sides, the later change stays in place (a change here counts from its save); an
// occurrence of a series moved on the phone is the one the reminder stands at.
TEST_P(SyncKeepsEventsTest, PendingRemindersTakeChangesTheLaterChangeWinsAndMovedOccurrencesCount) {
  const QString standup = phoneEvent("standup@phone.example", "Stand-up");  // 09:00 here on the 12th
  const QString budget = phoneEvent("budget@phone.example", "Budget");
  ASSERT_EQ(sync().pulledNew, 2);

  clock.set(QDateTime(QDate(2027, 1, 12), QTime(10, 0)));
  ASSERT_TRUE(alarms.ScanDueAlarms().ok());  // the stand-up is announced, and waits
  phone({"edit", standup, "SUMMARY=Stand-up: send the notes"});
  SyncReport r = sync();
  EXPECT_EQ(r.pulledChanged, 1) << Told(r);
  EXPECT_EQ(table().count("Stand-up: send the notes"), 1u) << Told(r);

  // Budget changed here at 10:00, on the phone at 11:00: the phone's stays in place.
  edit("Budget", [](EventInput& in) { in.activity = "Budget (mine)"; });
  phone({"edit", budget, "SUMMARY=Budget (theirs)", "LAST-MODIFIED=20270112T100000Z"});
  clock.set(QDateTime(QDate(2027, 1, 12), QTime(12, 0)));
  r = sync();
  EXPECT_EQ(r.conflicts, 1) << Told(r);
  EXPECT_TRUE(phone({"get", budget}).contains("SUMMARY:Budget (theirs)"));
  EXPECT_EQ(table().count("Budget (theirs)"), 1u);
  EXPECT_EQ(table().count("Budget (mine) (conflicting copy)"), 1u);

  // A daily 16:00 (here) review; tomorrow's moved to 18:00 on the phone.
  phone({"create"},
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Phone//EN\r\nBEGIN:VEVENT\r\nUID:review\r\n"
        "DTSTAMP:20270101T100000Z\r\nDTSTART:20270112T150000Z\r\nRRULE:FREQ=DAILY\r\nSUMMARY:Review\r\n"
        "END:VEVENT\r\nBEGIN:VEVENT\r\nUID:review\r\nDTSTAMP:20270101T100000Z\r\n"
        "RECURRENCE-ID:20270113T150000Z\r\nDTSTART:20270113T170000Z\r\nSUMMARY:Review\r\nEND:VEVENT\r\n"
        "END:VCALENDAR\r\n");
  clock.set(QDateTime(QDate(2027, 1, 12), QTime(17, 0)));  // today's has gone by
  r = sync();
  ASSERT_EQ(r.pulledNew, 1) << Told(r);
  const EventInput review = table().at("Review").second;
  EXPECT_EQ(QDateTime(review.activityDate, review.activityTime), QDateTime(QDate(2027, 1, 13), QTime(18, 0)));
}

// A weekly series made on the phone, one occurrence moved and one cancelled: the reminder is told
// at the moved time, never on the cancelled day, and an occurrence skipped here is one EXDATE more
// on the server, every other line of the phone's as it was.
TEST_P(SyncKeepsEventsTest, ASeriesWithAMovedAndACancelledOccurrenceIsFollowedAndSkippedHere) {
  const QString href = QString::fromUtf8(
      phone({"create"},
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example//Phone//EN\r\nBEGIN:VEVENT\r\nUID:weekly\r\n"
            "DTSTAMP:20270101T100000Z\r\nDTSTART;TZID=Europe/Berlin:20270111T090000\r\nDURATION:PT30M\r\n"
            "RRULE:FREQ=WEEKLY;COUNT=6\r\nEXDATE;TZID=Europe/Berlin:20270118T090000\r\nSUMMARY:Weekly\r\n"
            "X-PHONE-COLOUR:teal\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:weekly\r\nDTSTAMP:20270101T100000Z\r\n"
            "RECURRENCE-ID;TZID=Europe/Berlin:20270125T090000\r\nDTSTART;TZID=Europe/Berlin:20270126T140000\r\n"
            "DURATION:PT30M\r\nSUMMARY:Weekly\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
          .trimmed());
  ASSERT_EQ(sync().pulledNew, 1);
  const QByteArray before = phone({"get", href});
  // Each occurrence told is dealt with (Done); what is said at each moment.
  data::TableHandle calendar(engine, data::CalendarPath(state.AppFolder), "CALENDAR", data::kModeShared);
  ASSERT_TRUE(calendar.ok());
  xbase::WorkArea* const area = calendar.get();
  const qint64 recno = table().at("Weekly").first;
  QStringList said;
  for (const QDateTime& at :
       {QDateTime(QDate(2027, 1, 11), QTime(9, 0, 30)), QDateTime(QDate(2027, 1, 18), QTime(9, 0, 30)),
        QDateTime(QDate(2027, 1, 25), QTime(9, 0, 30)), QDateTime(QDate(2027, 1, 26), QTime(14, 0, 30))}) {
    clock.set(at);
    speaker.lines.clear();
    ASSERT_TRUE(alarms.ScanDueAlarms().ok());
    said << at.toString("dd HH:mm ") + speaker.lines.join(u'|');
    if (!speaker.lines.isEmpty()) {
      ASSERT_TRUE(alarms.StepOccurrence(area, recno, OccurrenceStep::Done).done);
    }
  }
  EXPECT_EQ(said, (QStringList{"11 09:00 Speak: Weekly", "18 09:00 ", "25 09:00 ", "26 14:00 Speak: Weekly"}));
  const AlarmService::StepOutcome skipped = alarms.StepOccurrence(area, recno, OccurrenceStep::Skip);
  EXPECT_EQ(skipped.excluded, QDateTime(QDate(2027, 2, 1), QTime(9, 0)));
  calendar.Close().IgnoreError();
  const SyncReport r = sync();
  EXPECT_EQ(r.pushedChanged, 1) << Told(r);
  QStringList added = Lines(phone({"get", href}));
  for (const QString& line : Lines(before)) EXPECT_TRUE(added.removeOne(line)) << "lost: " << line.toStdString();
  EXPECT_EQ(added.join(u'|').trimmed().toStdString(), "EXDATE;TZID=Europe/Berlin:20270201T090000");
}

// The program reads what it fetched on a thread of its own: a pass is not over when Start()
// returns, however fast the server answered, and it ends from the event loop.
TEST_P(SyncKeepsEventsTest, TheProgramReadsTheServersEventsOffTheRemindersThread) {
  phoneEvent("call@phone.example", "Call");
  QObject owner;
  CalendarSync pass(store(), std::make_unique<caldav::BlockingClient>(settings), settings.url);
  pass.parseOwner = &owner;
  std::optional<SyncReport> report;
  pass.finished = [&](const SyncReport& r) { report = r; };
  pass.Start();
  EXPECT_FALSE(report.has_value()) << "read on the caller's thread";
  ASSERT_TRUE(RunEventsUntil([&] { return report.has_value(); }, 30000));
  EXPECT_EQ(report->pulledNew, 1) << Told(*report);
}

INSTANTIATE_TEST_SUITE_P(Servers, SyncKeepsEventsTest, ::testing::Values("radicale", "xandikos"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
}  // namespace chimewise::testsupport
