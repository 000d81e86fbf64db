// chimewise-cli export and import: calendars as other programs write them, read in and written out.
#include "support/cli_fixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

class CalendarCliTest : public testsupport::CliFixture {
 protected:
  // Runs the tool at `now` on the application folder `folder` (under the test's folder).
  int run(const QString& now, const QStringList& args, const QString& folder = "app") {
    app = dir.filePath(folder);
    return runCli(QStringList{"--now", now} + args);
  }
  QString write(const QString& name, const QByteArray& text) {
    QFile f(dir.filePath(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return f.fileName();
  }
  QByteArray read(const QString& name) {
    QFile f(dir.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }
  // Imports a calendar; the first output line is the summary, the rest the skipped events.
  int import(const QString& now, const QByteArray& ics, QStringList options = {}) {
    return run(now, QStringList{"import"} + options + QStringList{write("in.ics", ics)});
  }
  // "record<TAB>reminder<TAB>activity<TAB>activity date" of every reminder.
  QStringList list(const QString& now) {
    EXPECT_EQ(run(now, {"list", "--all"}), 0) << errors.toStdString();
    return lines;
  }
  QString field(const QString& rec, const QString& name) { return CliFixture::field(rec, name).trimmed(); }
  // A reminder's activity and alarm as "YYYYMMDD MINUTES / YYYYMMDD MINUTES".
  QString moments(const QString& rec) {
    return field(rec, "EVENTDATE") + ' ' + field(rec, "STARTTIME") + " / " + field(rec, "ALARMDATE") + ' ' +
           field(rec, "ALARMTIME");
  }
};

const QString kNewYear = "2027-01-01 08:00:00";

QByteArray Calendar(const QByteArray& body, const QByteArray& head = {}) {
  QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example Makers//Desk Planner 4.2//EN\r\n" + head +
                    body + "END:VCALENDAR\r\n";
  return text.replace("\r\n", "\n").replace("\n", "\r\n");
}

}  // namespace

TEST_F(CalendarCliTest, DesktopCalendarWithWindowsZonesAndAFortnightlySeries) {
  const QByteArray ics = Calendar(R"(BEGIN:VEVENT
UID:review-7731@planner.example
DTSTAMP:20261201T120000Z
DTSTART;TZID="W. Europe Standard Time":20261207T093000
DTEND;TZID="W. Europe Standard Time":20261207T100000
RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO;UNTIL=20270301T083000Z
EXDATE;TZID="W. Europe Standard Time":20270104T093000
SUMMARY:Team review
DESCRIPTION:Room 4\, second floor
CATEGORIES:Work
END:VEVENT
BEGIN:VEVENT
UID:ny-call@planner.example
DTSTAMP:20261201T120000Z
DTSTART;TZID=Eastern Standard Time:20270110T090000
SUMMARY:Call with New York
END:VEVENT
)");
  ASSERT_EQ(import(kNewYear, ics, {"--lead", "15"}), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 2, updated 0, deleted 0, unchanged 0, skipped 0");
  // The 4th of January is left out: the next occurrence is the 18th, 09:30 in Berlin.
  EXPECT_EQ(field("1", "APPT_TEXT"), "Team review");
  EXPECT_EQ(field("1", "EVENT"), "Work");
  EXPECT_EQ(moments("1"), "20270118 570 / 20270118 555");
  EXPECT_TRUE(
      field("1", "COMMENT").startsWith("Room 4, second floor\\n\\n[iCalendar]\\nUID:review-7731@planner.example"))
      << field("1", "COMMENT").toStdString();
  EXPECT_TRUE(field("1", "COMMENT").contains("RRULE:FREQ=WEEKLY;"));
  EXPECT_TRUE(field("1", "COMMENT").contains("EXDATE:20270104T083000Z"));
  // 09:00 in New York is 15:00 in Berlin.
  EXPECT_EQ(moments("2"), "20270110 900 / 20270110 885");

  // The series goes out as a series, from its first occurrence, its exclusion in the local zone.
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("out.ics")}), 0) << errors.toStdString();
  const QByteArray out = read("out.ics");
  EXPECT_TRUE(out.contains("RRULE:FREQ=WEEKLY;UNTIL=20270301T083000Z;INTERVAL=2;BYDAY=MO")) << out.toStdString();
  EXPECT_TRUE(out.contains("DTSTART;TZID=Europe/Berlin:20261207T093000")) << out.toStdString();
  EXPECT_TRUE(out.contains("EXDATE;TZID=Europe/Berlin:20270104T093000"));
  EXPECT_TRUE(out.contains("TRIGGER:-PT15M"));

  // Once its occurrence has gone by, the alarm scan moves the reminder on to the next one.
  ASSERT_EQ(run("2027-01-18 09:31:00", {"due"}), 0) << errors.toStdString();
  EXPECT_EQ(moments("1"), "20270201 570 / 20270201 555");
  ASSERT_EQ(run("2027-01-18 09:31:00", {"export", "--all", dir.filePath("moved.ics")}), 0);
  EXPECT_TRUE(read("moved.ics").contains("TRIGGER:-PT15M"));
  // The series goes out the same wherever its reminder stands.
  ASSERT_EQ(run(kNewYear, {"delete", "2"}), 0);
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("a.ics")}), 0);
  ASSERT_EQ(run(kNewYear, {"import", dir.filePath("a.ics")}, "other"), 0);
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("b.ics")}, "other"), 0);
  EXPECT_EQ(read("a.ics"), read("b.ics"));

  // After the last occurrence the series is past; at 10:00 on the 18th the next one is on 1 February.
  ASSERT_EQ(import("2027-01-18 10:00:00", ics), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 1, deleted 0, unchanged 0, skipped 1");  // no --lead this time
  EXPECT_EQ(moments("1"), "20270201 570 / 20270201 570");
  ASSERT_EQ(import("2027-03-02 10:00:00", ics), 0);
  EXPECT_TRUE(lines.contains("skipped \"Team review\" (UID review-7731@planner.example): every occurrence is past"))
      << lines.join('\n').toStdString();
}

TEST_F(CalendarCliTest, OccurrencesMovedOrCancelledOnTheirOwn) {
  // As web calendars export a series with exceptions: the moved occurrence before its series.
  const QByteArray ics = Calendar(R"(BEGIN:VEVENT
UID:standup-42@calendar.example
RECURRENCE-ID;TZID=Europe/Berlin:20270104T100000
DTSTART;TZID=Europe/Berlin:20270105T140000
SUMMARY:Standup (moved)
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT10M
END:VALARM
END:VEVENT
BEGIN:VEVENT
UID:standup-42@calendar.example
DTSTART;TZID=Europe/Berlin:20261228T100000
RRULE:FREQ=WEEKLY;BYDAY=MO
SUMMARY:Standup
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT10M
END:VALARM
END:VEVENT
BEGIN:VEVENT
UID:standup-42@calendar.example
RECURRENCE-ID;TZID=Europe/Berlin:20270111T100000
DTSTART;TZID=Europe/Berlin:20270111T100000
STATUS:CANCELLED
SUMMARY:Standup
END:VEVENT
)");
  ASSERT_EQ(import(kNewYear, ics), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 2, updated 0, deleted 0, unchanged 0, skipped 1")
      << lines.join('\n').toStdString();
  EXPECT_TRUE(lines.value(1).contains("a cancelled occurrence of a series")) << lines.value(1).toStdString();
  // The moved one reminds at its new time; the series skips both the 4th and the 11th.
  EXPECT_EQ(field("1", "APPT_TEXT"), "Standup (moved)");
  EXPECT_EQ(moments("1"), "20270105 840 / 20270105 830");
  EXPECT_EQ(field("2", "APPT_TEXT"), "Standup");
  EXPECT_EQ(moments("2"), "20270118 600 / 20270118 590");
  ASSERT_EQ(import(kNewYear, ics), 0);
  EXPECT_EQ(lines.value(0).toStdString(), "imported 0, updated 0, deleted 0, unchanged 2, skipped 1");
  // Moved on after the 18th, the series still leaves the cancelled and moved dates out of its rule.
  ASSERT_EQ(run("2027-01-18 10:01:00", {"due"}), 0) << errors.toStdString();
  EXPECT_EQ(moments("2"), "20270125 600 / 20270125 590");

  // An invitation's cancellation of one occurrence takes nothing else away.
  ASSERT_EQ(import(kNewYear, Calendar(R"(BEGIN:VEVENT
UID:standup-42@calendar.example
RECURRENCE-ID;TZID=Europe/Berlin:20270201T100000
DTSTART;TZID=Europe/Berlin:20270201T100000
SUMMARY:Standup
END:VEVENT
)",
                                      "METHOD:CANCEL\r\n")),
            0);
  EXPECT_EQ(lines.value(0).toStdString(), "imported 0, updated 0, deleted 0, unchanged 0, skipped 1");
  EXPECT_EQ(field("2", "APPT_TEXT"), "Standup");
}

TEST_F(CalendarCliTest, ASeriesMovesOnWithTheClocksOfItsOwnZone) {
  // 09:00 in New York every Monday: 15:00 here, but 14:00 in the two weeks between the American
  // and the European change of the clocks.
  ASSERT_EQ(import("2027-03-01 08:00:00", Calendar(R"(BEGIN:VEVENT
UID:ny-weekly@calendar.example
DTSTART;TZID=America/New_York:20270301T090000
RRULE:FREQ=WEEKLY;BYDAY=MO
SUMMARY:New York weekly
END:VEVENT
)")),
            0)
      << errors.toStdString();
  EXPECT_EQ(moments("1"), "20270301 900 / 20270301 900");
  ASSERT_EQ(run("2027-03-08 15:01:00", {"due"}), 0) << errors.toStdString();
  EXPECT_EQ(moments("1"), "20270315 840 / 20270315 840");
  ASSERT_EQ(run("2027-03-22 14:01:00", {"due"}), 0) << errors.toStdString();
  EXPECT_EQ(moments("1"), "20270329 900 / 20270329 900");
}

TEST_F(CalendarCliTest, TheEarliestAlarmStillToComeOfSeveral) {
  // Two alarms as a mail client sets them: half an hour before the start and a quarter before the end.
  const QByteArray ics = Calendar(R"(BEGIN:VEVENT
CREATED:20261120T101010Z
UID:3f0c2b6e-workshop
SUMMARY:Workshop
DTSTART;TZID=Europe/Berlin:20270112T140000
DTEND;TZID=Europe/Berlin:20270112T160000
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;VALUE=DURATION:-PT30M
DESCRIPTION:Default Description
END:VALARM
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;RELATED=END:-PT15M
DESCRIPTION:Wrap up
END:VALARM
END:VEVENT
)");
  ASSERT_EQ(import(kNewYear, ics), 0) << errors.toStdString();
  EXPECT_EQ(moments("1"), "20270112 840 / 20270112 810");
  // Once the first has gone by, the one before the end.
  ASSERT_EQ(import("2027-01-12 13:40:00", ics), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 0, updated 1, deleted 0, unchanged 0, skipped 0");
  EXPECT_EQ(moments("1"), "20270112 840 / 20270112 945");
}

TEST_F(CalendarCliTest, ACustomZoneWhoseRulesChanged) {
  // Harbour Time was three hours ahead of UTC until October 2021, then UTC in winter and an hour
  // ahead in summer. A yearly event set up in 2019 falls at 10:00 Harbour Time, now 10:00 UTC.
  const QByteArray ics = Calendar(R"(BEGIN:VEVENT
UID:harbour-festival
DTSTART;TZID=Harbour Time:20191215T100000
RRULE:FREQ=YEARLY
SUMMARY:Harbour festival
END:VEVENT
BEGIN:VEVENT
UID:harbour-regatta
DTSTART;TZID=Harbour Time:20270720T100000
SUMMARY:Regatta
END:VEVENT
)",
                                  R"(BEGIN:VTIMEZONE
TZID:Harbour Time
BEGIN:STANDARD
DTSTART:19700101T000000
TZOFFSETFROM:+0300
TZOFFSETTO:+0300
END:STANDARD
BEGIN:STANDARD
DTSTART:20211031T030000
TZOFFSETFROM:+0300
TZOFFSETTO:+0000
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
END:STANDARD
BEGIN:DAYLIGHT
DTSTART:20220327T010000
TZOFFSETFROM:+0000
TZOFFSETTO:+0100
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
END:DAYLIGHT
END:VTIMEZONE
)");
  ASSERT_EQ(import(kNewYear, ics), 0) << errors.toStdString();
  ASSERT_EQ(lines.value(0), "imported 2, updated 0, deleted 0, unchanged 0, skipped 0")
      << lines.join('\n').toStdString();
  EXPECT_EQ(moments("1"), "20271215 660 / 20271215 660");  // 10:00 UTC is 11:00 in Berlin
  EXPECT_EQ(moments("2"), "20270720 660 / 20270720 660");  // 09:00 UTC is 11:00 in summer
}

TEST_F(CalendarCliTest, InvitationsAndTheirCancellation) {
  const QByteArray request = Calendar(R"(BEGIN:VEVENT
UID:board-2027@corp.example
SEQUENCE:0
ORGANIZER:mailto:chair@corp.example
DTSTART:20270201T080000Z
SUMMARY:Board meeting
END:VEVENT
)",
                                      "METHOD:REQUEST\r\n");
  ASSERT_EQ(import(kNewYear, request), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 1, updated 0, deleted 0, unchanged 0, skipped 0");
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Keep me", "--activity", "2027-02-01 09:00"}), 0);
  ASSERT_EQ(list(kNewYear).size(), 2);

  // The organiser calls it off: the reminder goes, the one typed in stays.
  const QByteArray cancel = Calendar(R"(BEGIN:VEVENT
UID:board-2027@corp.example
SEQUENCE:1
DTSTART:20270201T080000Z
SUMMARY:Board meeting
STATUS:CANCELLED
END:VEVENT
BEGIN:VEVENT
UID:never-seen@corp.example
DTSTART:20270202T080000Z
SUMMARY:Unknown meeting
END:VEVENT
)",
                                     "METHOD:CANCEL\r\n");
  ASSERT_EQ(import(kNewYear, cancel), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 1, unchanged 0, skipped 1");
  EXPECT_EQ(lines.value(1),
            "skipped \"Unknown meeting\" (UID never-seen@corp.example): cancelled, and not among the reminders");
  const QStringList left = list(kNewYear);
  ASSERT_EQ(left.size(), 1);
  EXPECT_TRUE(left[0].contains("Keep me"));
}

TEST_F(CalendarCliTest, WhatCannotBeTakenIsSkippedByName) {
  const QByteArray ics = Calendar(R"(BEGIN:VEVENT
UID:bad-freq
DTSTART:20270110T080000Z
RRULE:FREQ=SOMETIMES
SUMMARY:Bad frequency
END:VEVENT
BEGIN:VEVENT
UID:bad-both
DTSTART:20270110T080000Z
RRULE:FREQ=DAILY;COUNT=3;UNTIL=20270201T000000Z
SUMMARY:Count and until
END:VEVENT
BEGIN:VEVENT
UID:unknown-zone
DTSTART;TZID=Middle Earth Time:20270110T080000
SUMMARY:Nowhere
END:VEVENT
BEGIN:VEVENT
UID:greek
DTSTART:20270110T080000Z
SUMMARY:Καλημέρα
END:VEVENT
BEGIN:VEVENT
UID:long-ago
DTSTART:20261110T080000Z
SUMMARY:Long ago
END:VEVENT
BEGIN:VEVENT
UID:fine
DTSTART:20270110T080000Z
SUMMARY:Fine
END:VEVENT
)");
  ASSERT_EQ(import(kNewYear, ics), 0) << errors.toStdString();
  const QString report = lines.join('\n');
  EXPECT_EQ(lines.value(0), "imported 1, updated 0, deleted 0, unchanged 0, skipped 5") << report.toStdString();
  EXPECT_EQ(lines.size(), 6) << "one line per skipped event: " << report.toStdString();
  EXPECT_TRUE(report.contains("\"Bad frequency\" (UID bad-freq): invalid repeat rule (")) << report.toStdString();
  EXPECT_TRUE(report.contains("FREQ=SOMETIMES)"));
  EXPECT_TRUE(report.contains("\"Count and until\" (UID bad-both): invalid repeat rule (")) << report.toStdString();
  EXPECT_TRUE(report.contains("(UID unknown-zone): unknown time zone \"Middle Earth Time\""));
  EXPECT_TRUE(report.contains("(UID greek): ") && report.contains("Κ"));  // the letters the table lacks
  EXPECT_TRUE(report.contains("(UID long-ago): it is past"));
  const QStringList all = list(kNewYear);
  ASSERT_EQ(all.size(), 1);
  EXPECT_TRUE(all[0].contains("Fine"));
  EXPECT_FALSE(field("1", "COMMENT").contains('?'));
}

TEST_F(CalendarCliTest, AllDayEventsAndToDos) {
  const QByteArray ics = Calendar(R"(BEGIN:VEVENT
UID:birthday
DTSTART;VALUE=DATE:20270115
DTEND;VALUE=DATE:20270116
SUMMARY:Anna's birthday
END:VEVENT
BEGIN:VEVENT
UID:holiday
DTSTART;VALUE=DATE:20270120
SUMMARY:Holiday
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT15H
DESCRIPTION:Pack
END:VALARM
END:VEVENT
BEGIN:VTODO
UID:taxes
DUE;TZID=Europe/Berlin:20270131T170000
SUMMARY:File the taxes
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;RELATED=END:-P1D
END:VALARM
END:VTODO
BEGIN:VTODO
UID:someday
SUMMARY:Someday
END:VTODO
BEGIN:VTODO
UID:renewed
DUE:20270201T090000Z
SUMMARY:Renew the passport
PERCENT-COMPLETE:100
END:VTODO
)");
  ASSERT_EQ(import(kNewYear, ics, {"--all-day-at", "07:30"}), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 3, updated 0, deleted 0, unchanged 0, skipped 2");
  EXPECT_EQ(lines.value(1), "skipped \"Someday\" (UID someday): a to-do without a due date");
  EXPECT_EQ(lines.value(2), "skipped \"Renew the passport\" (UID renewed): done, and not among the reminders");
  EXPECT_EQ(moments("1"), "20270115 450 / 20270115 450");
  EXPECT_EQ(moments("2"), "20270120 450 / 20270119 540");  // 15 hours before its midnight
  EXPECT_EQ(moments("3"), "20270131 1020 / 20270130 1020");

  // They go out as all-day dates, and the to-do as an event at its due time.
  ASSERT_EQ(run(kNewYear, {"export", "--all", "-"}), 0) << errors.toStdString();
  const QString out = lines.join('\n');
  EXPECT_TRUE(out.contains("DTSTART;VALUE=DATE:20270115")) << out.toStdString();
  EXPECT_TRUE(out.contains("DTSTART;VALUE=DATE:20270120"));
  EXPECT_TRUE(out.contains("TRIGGER;VALUE=DATE-TIME:20270119T080000Z"));
  EXPECT_TRUE(out.contains("DTSTART;TZID=Europe/Berlin:20270131T170000"));

  // The to-do done on another device: its reminder goes.
  ASSERT_EQ(import(kNewYear, Calendar("BEGIN:VTODO\nUID:taxes\nSUMMARY:File the taxes\nSTATUS:COMPLETED\n"
                                      "COMPLETED:20270102T100000Z\nEND:VTODO\n")),
            0)
      << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 1, unchanged 0, skipped 0");
  EXPECT_EQ(list(kNewYear).size(), 2);
}

TEST_F(CalendarCliTest, ExportImportExportIsByteForByte) {
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Dentist", "--activity", "2027-01-05 10:00", "--remind", "2027-01-05 09:30",
                           "--type", "Health", "--memo", "Bring the card;\nand, the letter", "--sound", "3",
                           "--say-date", "--countdown", "20"}),
            0)
      << errors.toStdString();
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Overdue", "--activity", "2027-01-02 18:00", "--remind", "2026-12-31 18:00",
                           "--say-time"}),
            0);
  ASSERT_EQ(import(kNewYear, Calendar(R"(BEGIN:VEVENT
UID:fortnight
DTSTART:20261207T083000Z
RRULE:FREQ=WEEKLY;INTERVAL=2
EXDATE:20270104T083000Z
SUMMARY:Review
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER:-PT10M
END:VALARM
END:VEVENT
BEGIN:VEVENT
UID:day-off
DTSTART;VALUE=DATE:20270301
SUMMARY:Day off
END:VEVENT
)")),
            0);
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("first.ics")}), 0) << errors.toStdString();
  ASSERT_EQ(run(kNewYear, {"import", dir.filePath("first.ics")}, "empty"), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 4, updated 0, deleted 0, unchanged 0, skipped 0");
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("second.ics")}, "empty"), 0);
  EXPECT_EQ(read("first.ics"), read("second.ics"));
  EXPECT_TRUE(read("first.ics").contains("X-CHIMEWISE-COUNTDOWN:20"));

  // Read again, nothing changes: not in the table, not in the folder it came from.
  ASSERT_EQ(run(kNewYear, {"import", dir.filePath("first.ics")}, "empty"), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 0, unchanged 4, skipped 0");
  ASSERT_EQ(run(kNewYear, {"import", dir.filePath("first.ics")}), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 0, unchanged 4, skipped 0");

  // Without --all: the reminders list shows, the overdue one.
  ASSERT_EQ(run(kNewYear, {"export", "-"}), 0);
  EXPECT_EQ(lines.filter("BEGIN:VEVENT").size(), 1);
  EXPECT_EQ(lines.filter("SUMMARY:Overdue").size(), 1);
}

TEST_F(CalendarCliTest, FilesThatCannotBeReadChangeNothing) {
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Keep", "--activity", "2027-02-01 09:00"}), 0);
  const auto refused = [&](const QStringList& args, const QString& why) {
    EXPECT_EQ(run(kNewYear, args), 1) << args.join(' ').toStdString();
    EXPECT_TRUE(errors.contains(why)) << errors.toStdString();
    EXPECT_TRUE(errors.contains("nothing was changed")) << errors.toStdString();
    EXPECT_EQ(list(kNewYear).size(), 1);
  };
  refused({"import", write("notes.ics", "Shopping: milk, eggs\n")}, "not an iCalendar file");
  refused({"import", write("cut.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x\r\n")}, "cut short");
  refused({"import", dir.path()}, "is not a regular file");
  refused({"import", dir.filePath("absent.ics")}, "does not exist");
  QFile big(dir.filePath("big.ics"));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly));
  ASSERT_TRUE(big.resize(17 * 1024 * 1024));
  big.close();
  refused({"import", big.fileName()}, "larger than 16 MB");

  EXPECT_EQ(run(kNewYear, {"import", "--all-day-at", "9", "x.ics"}), 2);
  EXPECT_EQ(run(kNewYear, {"export"}), 2);
  // An export that cannot be written says so.
  EXPECT_EQ(run(kNewYear, {"export", dir.filePath("no/such/folder/out.ics")}), 1);
  EXPECT_TRUE(errors.contains("cannot be written")) << errors.toStdString();
}

TEST_F(CalendarCliTest, TheToolLoadsLibicalOnlyForCalendars) {
  QProcess tool;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("LD_DEBUG", "files");
  tool.setProcessEnvironment(env);
  tool.start(CHIMEWISE_CLI, {"--help"});
  ASSERT_TRUE(tool.waitForFinished(-1));
  const QByteArray trace = tool.readAllStandardError();
  EXPECT_TRUE(trace.contains("libQt6Core")) << "no loader trace";
  EXPECT_FALSE(trace.contains("libical")) << trace.toStdString();

  tool.start(CHIMEWISE_CLI, {"--app-folder", dir.filePath("app"), "--now", kNewYear, "export", "--all", "-"});
  ASSERT_TRUE(tool.waitForFinished(-1));
  EXPECT_TRUE(tool.readAllStandardError().contains("libicalendar-backend.so"));
}
