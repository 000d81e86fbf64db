// chimewise-cli export and import: calendars as other programs write them, read in and written out.
#include "support/cli_fixture.h"
#include "support/files.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace chimewise;

namespace {

class CalendarCliTest : public testsupport::CliFixture {
 protected:
  // Runs the tool at `now` on the application folder `folder` (under the test's folder; empty: the
  // one used last).
  int run(const QString& now, const QStringList& args, const QString& folder = {}) {
    if (!folder.isEmpty()) app = dir.filePath(folder);
    return runCli(QStringList{"--now", now} + args);
  }
  QString write(const QString& name, const QByteArray& text) {
    testsupport::Touch(dir.filePath(name), text);
    return dir.filePath(name);
  }
  QByteArray read(const QString& name) { return testsupport::Slurp(dir.filePath(name)); }
  // Imports a calendar; the first output line is the summary, the rest the skipped events.
  int import(const QString& now, const QByteArray& ics, QStringList options = {}, const QString& folder = {}) {
    return run(now, QStringList{"import"} + options + QStringList{write("in.ics", ics)}, folder);
  }
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

// A calendar as another program wrote it, from tests/cli/calendars.
QByteArray Fixture(const char* name) {
  QFile f(QStringLiteral(CALENDARS_DIR "/") + name);
  return f.open(QIODevice::ReadOnly) ? f.readAll().replace("\r\n", "\n").replace("\n", "\r\n") : QByteArray("missing");
}

// A desktop planner: Windows zone names, a fortnightly series with an exclusion.
const QByteArray kDesktop = Fixture("desktop-planner.ics");
// A web calendar: a series with a moved occurrence before it and a cancelled one after.
const QByteArray kWeb = Fixture("web-calendar-exceptions.ics");
// 09:00 in New York every Monday.
const QByteArray kNewYork = Fixture("new-york-weekly.ics");
// A mail client's two alarms: half an hour before the start and a quarter before the end.
const QByteArray kWorkshop = Fixture("mail-client-two-alarms.ics");
// Harbour Time was three hours ahead of UTC until October 2021, then UTC in winter and an hour
// ahead in summer. A yearly event set up in 2019 falls at 10:00 Harbour Time, now 10:00 UTC.
const QByteArray kHarbour = Fixture("custom-zone-rules-changed.ics");
const QByteArray kInvitation = Fixture("invitation-request.ics");
// What cannot be taken, each for its own reason, and two that can (one in Greek).
const QByteArray kSkips = Fixture("untakable-events.ics");
// All-day events and to-dos.
const QByteArray kAllDay = Fixture("all-day-and-to-dos.ics");

}  // namespace

// Each calendar read into an empty folder: the summary, each event skipped and why, and the
// activity and alarm of each reminder made ("record: YYYYMMDD MINUTES / YYYYMMDD MINUTES").
TEST_F(CalendarCliTest, ForeignCalendarsAreReadAsReminders) {
  const std::tuple<const char*, QByteArray, QStringList, QStringList> cases[] = {
      // The 4th of January is left out; 09:00 in New York is 15:00 in Berlin.
      {"desktop",
       kDesktop,
       {"--lead", "15"},
       {"imported 2, updated 0, deleted 0, unchanged 0, skipped 0", "1: 20270118 570 / 20270118 555",
        "2: 20270110 900 / 20270110 885"}},
      {"web",
       kWeb,
       {},
       {"imported 2, updated 0, deleted 0, unchanged 0, skipped 1", "a cancelled occurrence of a series",
        "1: 20270105 840 / 20270105 830", "2: 20270118 600 / 20270118 590"}},
      {"new-york", kNewYork, {}, {"imported 1, updated", "1: 20270301 900 / 20270301 900"}},
      {"workshop", kWorkshop, {}, {"imported 1, updated", "1: 20270112 840 / 20270112 810"}},
      // 10:00 UTC is 11:00 in Berlin; 09:00 UTC in summer too.
      {"harbour",
       kHarbour,
       {},
       {"imported 2, updated", "1: 20271215 660 / 20271215 660", "2: 20270720 660 / 20270720 660"}},
      {"invitation", kInvitation, {}, {"imported 1, updated", "1: 20270201 540 / 20270201 540"}},
      {"skips",
       kSkips,
       {},
       {"imported 2, updated 0, deleted 0, unchanged 0, skipped 4", "\"Bad frequency\" (UID bad-freq): invalid repeat",
        "(UID bad-both): invalid repeat rule (", "(UID unknown-zone): unknown time zone \"Middle Earth Time\"",
        "(UID long-ago): it is past", "1: 20270110 540 / 20270110 540", "2: 20270110 540 / 20270110 540"}},
      // All-day ones at --all-day-at, the holiday's alarm 15 hours before its midnight.
      {"all-day",
       kAllDay,
       {"--all-day-at", "07:30"},
       {"imported 3, updated 0, deleted 0, unchanged 0, skipped 2",
        "\"Someday\" (UID someday): a to-do without a due date",
        "\"Renew the passport\" (UID renewed): done, and not among the reminders", "1: 20270115 450 / 20270115 450",
        "2: 20270120 450 / 20270119 540", "3: 20270131 1020 / 20270130 1020"}},
  };
  for (const auto& [what, ics, options, expected] : cases) {
    ASSERT_EQ(import(kNewYear, ics, options, what), 0) << what << errors.toStdString();
    QString outcome = lines.join('\n');
    for (int rec = 1; rec <= 3; ++rec) outcome += QString("\n%1: ").arg(rec) + moments(QString::number(rec));
    for (const QString& part : expected)
      EXPECT_TRUE(outcome.contains(part)) << part.toStdString() << " in\n" << outcome.toStdString();
  }
}

// A series moves on to its next occurrence once one goes by, in its own zone's clocks and
// leaving out what was excluded, moved or cancelled; a gone alarm gives way to the next.
TEST_F(CalendarCliTest, RemindersMoveOnAsTheirOccurrencesAndAlarmsGoBy) {
  ASSERT_EQ(import(kNewYear, kDesktop, {"--lead", "15"}), 0);
  // The series goes out as the planner wrote it, from its first occurrence, in its own zone.
  ASSERT_EQ(run(kNewYear, {"export", "--all", "-"}), 0) << errors.toStdString();
  for (const char* line :
       {"RRULE:FREQ=WEEKLY;INTERVAL=2;BYDAY=MO;UNTIL=20270301T083000Z",
        "DTSTART;TZID=\"W. Europe Standard Time\":20261207T093000",
        "EXDATE;TZID=\"W. Europe Standard Time\":20270104T093000", "DESCRIPTION:Room 4\\, second floor"})
    EXPECT_TRUE(lines.join(QChar(10)).contains(line)) << line;
  ASSERT_EQ(run("2027-01-18 09:31:00", {"due"}), 0) << errors.toStdString();
  EXPECT_EQ(moments("1"), "20270118 570 / 20270118 576");
  ASSERT_EQ(import("2027-03-02 10:00:00", kDesktop), 0);
  EXPECT_TRUE(lines.contains("skipped \"Team review\" (UID review-7731@planner.example): every occurrence is past"))
      << lines.join('\n').toStdString();

  ASSERT_EQ(import(kNewYear, kWeb, {}, "web"), 0);
  // Told at its time, an occurrence is nagged about until the next one replaces it.
  ASSERT_EQ(run("2027-01-18 10:01:00", {"due"}, "web"), 0) << errors.toStdString();
  EXPECT_EQ(moments("2"), "20270118 600 / 20270118 606");
  ASSERT_EQ(run("2027-01-25 09:46:00", {"due"}, "web"), 0) << errors.toStdString();
  EXPECT_EQ(moments("2"), "20270125 600 / 20270125 590");

  // 15:00 here, but 14:00 in the two weeks between the American and the European change.
  ASSERT_EQ(import("2027-03-01 08:00:00", kNewYork, {}, "ny"), 0);
  EXPECT_EQ(moments("1"), "20270301 900 / 20270301 900");
  ASSERT_EQ(run("2027-03-08 15:01:00", {"due"}, "ny"), 0);
  EXPECT_EQ(moments("1"), "20270315 840 / 20270315 840");
  ASSERT_EQ(run("2027-03-22 14:01:00", {"due"}, "ny"), 0);
  EXPECT_EQ(moments("1"), "20270329 900 / 20270329 900");

  ASSERT_EQ(import(kNewYear, kWorkshop, {}, "workshop"), 0);
  ASSERT_EQ(import("2027-01-12 13:40:00", kWorkshop, {}, "workshop"), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 1, deleted 0, unchanged 0, skipped 0");
  EXPECT_EQ(moments("1"), "20270112 840 / 20270112 945");
}

// A calendar read again changes nothing; a cancellation takes away what it names and only that.
TEST_F(CalendarCliTest, ReadAgainAndCancellations) {
  ASSERT_EQ(import(kNewYear, kWeb), 0);
  ASSERT_EQ(import(kNewYear, kWeb), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 0, unchanged 2, skipped 1");
  // An invitation's cancellation of one occurrence takes nothing else away.
  ASSERT_EQ(import(kNewYear, Fixture("occurrence-cancelled.ics")), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 0, unchanged 0, skipped 1");

  // The organiser calls a meeting off: its reminder goes, the one typed in stays.
  ASSERT_EQ(import(kNewYear, kInvitation, {}, "invited"), 0);
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Keep me", "--activity", "2027-02-01 09:00"}, "invited"), 0);
  ASSERT_EQ(import(kNewYear, Fixture("invitation-cancelled.ics"), {}, "invited"), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 1, unchanged 0, skipped 1");
  EXPECT_EQ(lines.value(1),
            "skipped \"Unknown meeting\" (UID never-seen@corp.example): cancelled, and not among the reminders");
  ASSERT_EQ(list(kNewYear).size(), 1);
  EXPECT_TRUE(lines[0].contains("Keep me"));
}

// What is exported reads back to the same reminders: exported again, byte for byte, and read
// again nothing changes. Without --all, only what the reminders list shows goes out.
TEST_F(CalendarCliTest, ExportImportExportIsByteForByte) {
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Dentist", "--activity", "2027-01-05 10:00", "--remind", "2027-01-05 09:30",
                           "--type", "Health", "--memo", "Bring the card;\nand, the letter", "--sound", "3",
                           "--say-date", "--countdown", "20"}),
            0)
      << errors.toStdString();
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Overdue", "--activity", "2027-01-02 18:00", "--remind", "2026-12-31 18:00",
                           "--say-time"}),
            0);
  // Still waiting for the user though its activity is past: a backup keeps it waiting.
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Call the plumber", "--activity", "2026-12-30 08:00"}), 0);
  ASSERT_EQ(import(kNewYear, Fixture("fortnight-and-day-off.ics")), 0);
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("first.ics")}), 0) << errors.toStdString();
  ASSERT_EQ(run(kNewYear, {"import", dir.filePath("first.ics")}, "empty"), 0) << errors.toStdString();
  EXPECT_EQ(lines.value(0), "imported 5, updated 0, deleted 0, unchanged 0, skipped 0");
  ASSERT_EQ(run(kNewYear, {"list"}, "empty"), 0);
  EXPECT_EQ(lines.filter("Call the plumber").size(), 1) << lines.join('\n').toStdString();
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("second.ics")}, "empty"), 0);
  EXPECT_EQ(read("first.ics").toStdString(), read("second.ics").toStdString());
  ASSERT_EQ(run(kNewYear, {"import", dir.filePath("first.ics")}, "app"), 0);
  EXPECT_EQ(lines.value(0), "imported 0, updated 0, deleted 0, unchanged 5, skipped 0");
  // What only an export here adds is not kept as the event's own, however its line is folded.
  ASSERT_TRUE(read("first.ics").contains("X-CHIMEWISE-PENDING"));
  ASSERT_EQ(
      import(kNewYear, read("first.ics").replace("X-CHIMEWISE-PENDING", "X-CHIMEWISE-PEN\r\n DING"), {}, "folded"), 0);
  EXPECT_FALSE(read("folded/data/calendar.events/events.log").contains("X-CHIMEWISE-PEN"));

  ASSERT_EQ(run(kNewYear, {"export", "-"}), 0);
  EXPECT_EQ(lines.filter("BEGIN:VEVENT").size(), 2);
  EXPECT_EQ(lines.filter("SUMMARY:Overdue").size(), 1);
}

// Text in every script, emoji with modifiers and joiners, combining marks and right-to-left text:
// the Windows-1252 table becomes UTF-8 at the first of them (the table as it was kept), and each
// comes back whole from list and show, through export and import into a fresh folder, and in
// dbfread told the encoding the .cpg file declares (REC_NO holds a key's bytes, not text).
TEST_F(CalendarCliTest, TextInEveryScriptTravelsWhole) {
  const QStringList texts = {"Встреча с Анной",
                             "Συνάντηση στο καφέ",
                             "موعد مع الطبيب",
                             "פגישה עם דני",
                             "会议 3 点",
                             "かいぎ カイギ",
                             "회의 준비",
                             "बैठक की तैयारी",
                             "ประชุมทีม",
                             "Café ☕ Zoë — Łódź",
                             "Հանդիպում",
                             "შეხვედრა",
                             "👩🏽‍💻 review 👍🏿 🇩🇪",
                             "e\u0301le\u0300ve n\u0303",
                             "Call עברית then العربية"};
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Plain", "--activity", "2027-01-05 09:00"}), 0) << errors.toStdString();
  const QByteArray before = read("app/data/CALENDAR.DBF");
  QStringList recs;
  for (int i = 0; i < texts.size(); ++i) {
    ASSERT_EQ(run(kNewYear, {"add", "--text", texts[i], "--memo", "m " + texts[i], "--type", texts[i].left(7),
                             "--activity", QString("2027-01-05 10:%1").arg(i, 2, 10, QChar('0'))}),
              0)
        << errors.toStdString();
    recs << lines.value(0).section(u':', 0, 0).section(u' ', 1);  // "Added N: ..."
  }
  EXPECT_EQ(read("app/data/CALENDAR.CPG") + read("app/data/CALENDAR_cp1252.DBF"), "UTF-8" + before);
  ASSERT_EQ(run(kNewYear, {"list", "--all"}), 0);
  const QStringList listed = lines;
  QStringList expected{"Plain|"};
  for (int i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(listed.filter(texts[i]).size(), 1) << texts[i].toStdString();
    EXPECT_EQ(field(recs[i], "APPT_TEXT") + '|' + field(recs[i], "COMMENT") + '|' + field(recs[i], "EVENT"),
              texts[i] + "|m " + texts[i] + '|' + texts[i].left(7).trimmed());
    expected << texts[i] + "|m " + texts[i];
  }
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("first.ics")}), 0) << errors.toStdString();
  ASSERT_EQ(run(kNewYear, {"import", dir.filePath("first.ics")}, "fresh"), 0) << errors.toStdString();
  ASSERT_EQ(run(kNewYear, {"export", "--all", dir.filePath("second.ics")}, "fresh"), 0);
  const auto events = [&](const char* name) {
    return read(name).mid(read(name).indexOf("BEGIN:VEVENT")).toStdString();
  };
  EXPECT_EQ(events("first.ics"), events("second.ics"));
  QProcess py;
  py.start("/usr/bin/python3", {"-c",
                                "import sys, dbfread; enc = open(sys.argv[1][:-3] + 'CPG').read()\n"
                                "for r in dbfread.DBF(sys.argv[1], encoding=enc, char_decode_errors='surrogateescape'):"
                                "\n  print(r['APPT_TEXT'] + '|' + (r['COMMENT'] or ''))",
                                dir.filePath("fresh/data/CALENDAR.DBF")});
  ASSERT_TRUE(py.waitForFinished(30000));
  QStringList got = QString::fromUtf8(py.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
  got.sort(), expected.sort();
  EXPECT_EQ(got.join('\n').toStdString(), expected.join('\n').toStdString()) << py.readAllStandardError().toStdString();
}

// A file not read whole changes nothing, whatever is wrong with it.
TEST_F(CalendarCliTest, FilesThatCannotBeReadChangeNothing) {
  ASSERT_EQ(run(kNewYear, {"add", "--text", "Keep", "--activity", "2027-02-01 09:00"}), 0);
  QFile big(dir.filePath("big.ics"));
  ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(17 * 1024 * 1024));
  big.close();
  const std::pair<QString, const char*> refused[] = {
      {write("notes.ics", "Shopping: milk, eggs\n"), "not an iCalendar file"},
      {write("cut.ics", "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:x\r\n"), "cut short"},
      {dir.path(), "is not a regular file"},
      {dir.filePath("absent.ics"), "does not exist"},
      {big.fileName(), "larger than 16 MB"}};
  for (const auto& [path, why] : refused) {
    EXPECT_EQ(run(kNewYear, {"import", path}), 1) << why;
    EXPECT_TRUE(errors.contains(why) && errors.contains("nothing was changed")) << errors.toStdString();
    EXPECT_EQ(list(kNewYear).size(), 1);
  }
  EXPECT_EQ(run(kNewYear, {"export", dir.filePath("no/such/folder/out.ics")}), 1);
  EXPECT_TRUE(errors.contains("cannot be written")) << errors.toStdString();
}

// A repeat given to add: listed and shown in words, refused with the part not understood (nothing
// saved), its occurrences skipped and deleted one at a time as EXDATEs, and an imported series'
// occurrence skipped here is an EXDATE of the event itself, in its own zone, all else kept.
TEST_F(CalendarCliTest, RepeatsAreMadeListedSkippedAndWrittenOut) {
  const QString tuesday = "2026-12-08 10:00:00";
  ASSERT_EQ(run(tuesday,
                {"add", "--text", "Gym", "--activity", "2026-12-08 18:00", "--remind", "2026-12-08 17:30", "--repeat",
                 "FREQ=WEEKLY;BYDAY=MO,TH"},
                "app"),
            0)
      << errors.toStdString();
  // Said as saved: at the rule's first occurrence, not the Tuesday typed.
  EXPECT_EQ(lines.value(0).toStdString(),
            "Added 1: \"Gym\" \u2014 Thursday 10 December 2026, 6:00 pm, repeats every Monday and Thursday");
  EXPECT_EQ(run(tuesday, {"add", "--text", "Bad", "--activity", "2026-12-08 18:00", "--repeat", "FREQ=DAILY;BYFOO=2"}),
            2);
  EXPECT_TRUE(errors.contains("BYFOO")) << errors.toStdString();
  EXPECT_EQ(list(tuesday), QStringList{"1\t12/10/2026 5:30 pm\tGym\t12/10/2026 6:00 pm\tevery Monday and Thursday at "
                                       "6:00 pm"});
  ASSERT_EQ(run(tuesday, {"show", "1"}), 0);
  EXPECT_EQ(lines.last(), "REPEAT\tevery Monday and Thursday at 6:00 pm (FREQ=WEEKLY;BYDAY=MO,TH)");
  ASSERT_EQ(run(tuesday, {"skip", "1"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, (QStringList{"taken out 2026-12-10 18:00", "next 2026-12-14 18:00"}));
  ASSERT_EQ(run(tuesday, {"delete", "1", "--occurrence"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, (QStringList{"taken out 2026-12-14 18:00", "next 2026-12-17 18:00"}));
  EXPECT_EQ(moments("1"), "20261217 1080 / 20261217 1050");
  ASSERT_EQ(run(tuesday, {"export", "--all", "-"}), 0);
  const QString out = lines.join('\n');
  for (const char* line :
       {"DTSTART;TZID=Europe/Berlin:20261210T180000", "RRULE:FREQ=WEEKLY;BYDAY=MO,TH",
        "EXDATE;TZID=Europe/Berlin:20261210T180000", "EXDATE;TZID=Europe/Berlin:20261214T180000", "TRIGGER:-PT30M"})
    EXPECT_TRUE(out.contains(line)) << line;

  ASSERT_EQ(import(tuesday, kNewYork, {}, "phone"), 0) << errors.toStdString();
  const QByteArray before = [&] {
    EXPECT_EQ(run(tuesday, {"export", "--all", "-"}), 0);
    return lines.join('\n').toUtf8();
  }();
  ASSERT_EQ(run(tuesday, {"skip", "1"}), 0) << errors.toStdString();
  ASSERT_EQ(run(tuesday, {"export", "--all", "-"}), 0);
  QStringList added = lines;
  for (const QByteArray& l : before.split('\n')) added.removeOne(QString::fromUtf8(l));
  for (QString& l : added) l = l.trimmed();
  EXPECT_EQ(added.filter(QRegularExpression("^(EXDATE|RRULE|DTSTART)")),
            QStringList{"EXDATE;TZID=America/New_York:20270301T090000"});
}
