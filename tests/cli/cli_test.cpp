// chimewise-cli driven in-process: scripted scenarios of added reminders, scans and snoozes.
#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "core/app_paths.h"
#include "core/command_line.h"
#include "data/calendar.h"
#include "support/cli_fixture.h"
#include "support/qt_print.h"
#include "support/xbase_raw_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <xbase/engine.h>
#include <gtest/gtest.h>
#include <instance/single_instance.h>

using namespace chimewise;

namespace {

class CliTest : public testsupport::CliFixture {
 protected:
  // The reminder table's three files, byte for byte.
  QByteArray tableBytes() {
    QByteArray all;
    for (const char* f : {"CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"}) {
      QFile file(app + "/data/" + f);
      all += file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    return all;
  }
  // Swaps the first two entries of the ALARM tag's first leaf, checksum set right, as a damaged or
  // foreign writer may leave them: only a lookup that reads that page finds out.
  void putAlarmKeysOutOfOrder() {
    const std::string path = (app + "/data/CALENDAR.CDX").toStdString();
    xbase::testing::IndexBytes cdx(xbase::testing::ReadAll(path));
    uint32_t keyLength = 0, root = 0;
    ASSERT_TRUE(cdx.FindTag("ALARM", &keyLength, &root));
    const uint32_t leaf = cdx.Leaves("ALARM").front();
    ASSERT_GE(cdx.Count(leaf), 2u);
    const std::string first = cdx.Entry(leaf, keyLength, 0);
    cdx.SetEntry(leaf, keyLength, 0, cdx.Entry(leaf, keyLength, 1));
    cdx.SetEntry(leaf, keyLength, 1, first);
    cdx.FixChecksum(leaf);
    xbase::testing::WriteAll(path, cdx.bytes());
  }
};

const QString kMorning = "2026-12-04 10:00:00";  // a Friday

}  // namespace

TEST_F(CliTest, AddComposesTheWholeRecord) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "Call the dentist", "--activity", "2026-12-04 15:05", "--remind",
                           "2026-12-04 00:25", "--type", "Phone Call", "--memo", "Line one\nline two", "--sound", "3",
                           "--say-date", "--say-time", "--countdown", "15"}),
            0)
      << errors.toStdString();
  ASSERT_EQ(lines, QStringList{"1"});
  const QString id = field("1", "REC_NO");
  EXPECT_EQ(id.size(), 13);
  EXPECT_TRUE(id.startsWith('E'));
  const std::pair<const char*, const char*> texts[] = {{"APPT_TEXT", "Call the dentist"},
                                                       {"EVENT", "Phone Call"},
                                                       {"COMMENT", "Line one\\nline two"},
                                                       {"EVENTDATE", "20261204"},
                                                       {"STARTDATE", "20261204"},
                                                       {"LASTEDIT", "20261204"},
                                                       {"USERID", "  1"},
                                                       {"STATUS", "S"},
                                                       {"TIMETEXT", "3:05 pm"}};
  for (const auto& [name, value] : texts) EXPECT_EQ(field("1", name), value) << name;
  // Numbers, right-aligned; 0:25 is minute 25.
  const std::pair<const char*, int> numbers[] = {{"STARTTIME", 905}, {"EDITTIME", 905}, {"ALARMTIME", 25},
                                                 {"SOUND", 3},       {"SAYDATE", 1},    {"COUNTDOWN", 15}};
  for (const auto& [name, value] : numbers) EXPECT_EQ(field("1", name).trimmed(), QString::number(value)) << name;
  EXPECT_TRUE(field("1", "ALARMTEXT").endsWith(" 12:25 am"));
  EXPECT_TRUE(field("1", "DATETEXT").contains("2026"));

  ASSERT_EQ(run(kMorning, {"add", "--text", "Lunch", "--activity", "2026-12-04 12:30"}), 0);
  EXPECT_EQ(lines, QStringList{"2"});
  EXPECT_EQ(field("2", "COUNTDOWN").trimmed(), "0");    // no countdown asked for
  EXPECT_EQ(field("2", "ALARMTIME").trimmed(), "750");  // --remind defaults to the activity
  EXPECT_NE(field("2", "REC_NO"), id);
}

TEST_F(CliTest, ListAndShowPrintControlCharactersEscaped) {
  // The table cannot be given control characters through the program, but another program's
  // table can hold them: the record is written here and its bytes changed afterwards, to a text
  // that would retitle the terminal (OSC), colour it (CSI) and ring the bell.
  ASSERT_EQ(run(kMorning, {"add", "--text", "Call QQ]0;owned{ now QQ[31mred", "--activity", "2026-12-04 15:05"}), 0)
      << errors.toStdString();
  {
    QFile dbf(dir.filePath("app/data/CALENDAR.DBF"));
    ASSERT_TRUE(dbf.open(QIODevice::ReadWrite));
    QByteArray bytes = dbf.readAll();
    ASSERT_TRUE(bytes.contains("QQ]0;owned{"));
    bytes.replace("QQ", "\x1b\x01").replace('{', '\x07');
    dbf.seek(0);
    dbf.write(bytes);
  }
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0) << errors.toStdString();
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].contains("Call \\x1b\\x01]0;owned\\x07 now \\x1b\\x01[31mred")) << lines[0].toStdString();
  ASSERT_EQ(run(kMorning, {"show", "1"}), 0);
  ASSERT_TRUE(lines.join('\n').contains("Call \\x1b")) << lines.join('\n').toStdString();
  ExpectNoControls(lines + QStringList{errors});
}

TEST_F(CliTest, BadArgumentsWriteNothing) {
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0);
  // Each refused line, and the first line said about it (the usage follows).
  const std::pair<QStringList, QString> bad[] = {
      {{"add", "--text", "x"}, "add needs --activity"},
      {{"add", "--activity", "2026-12-04 10:00"}, "add needs --text with the activity's words"},
      {{"add", "--text", " ", "--activity", "2026-12-04 10:00"}, "add needs --text with the activity's words"},
      {{"add", "--text", "x", "--activity", "tomorrow"},
       "--activity wants a moment written \"YYYY-MM-DD HH:MM\", not \"tomorrow\""},
      {{"add", "--text", "x", "--activity", "2026-12-04 10:00", "--remind", "later"},
       "--remind wants a moment written \"YYYY-MM-DD HH:MM\", not \"later\""},
      {{"add", "--text", "x", "--activity", "2026-12-04 10:00", "--sound", "9"},
       "--sound must be a whole number from 0 to 8, not \"9\""},
      {{"add", "--text", "x", "--activity", "2026-12-04 10:00", "--countdown", "-5"},
       "--countdown must be a whole number from 1 to 99999, not \"-5\""},
      {{"add", "--text", "x", "--activity", "2026-12-04 10:00", "--bogus"}, "unknown option --bogus"},
      {{"add", "--text", "x", "--activity", "2026-12-04 10:00", "extra"}, "add takes 0 arguments"},
      {{"add", "--text", "x", "--text", "y"}, "--text is given twice"},
      {{"add", "--text", "x", "--activity"}, "--activity needs a value"},
      {{"list", "--now"}, "--now needs a value"},
      {{"list", "--now", "noon"}, "--now wants a moment written \"YYYY-MM-DD HH:MM:SS\", not \"noon\""},
      {{"snooze", "1", "9"}, "CHOICE must be a whole number from 0 to 8, not \"9\""},
      {{"snooze", "1"}, "snooze takes 2 arguments"},
      {{"show", "zero"}, "REC must be a whole number from 1 to 2147483632, not \"zero\""},
      {{"delete"}, "delete takes 1 argument"},
      {{"import", "--lead", "x", "a.ics"}, "--lead must be a whole number from 0 to 99999, not \"x\""},
      {{"import", "--all-day-at", "9", "a.ics"}, "--all-day-at wants a time of day written HH:MM, not \"9\""},
      {{"sync", "a.ics"}, "sync takes 0 arguments"},
      {{"sync", "--server"}, "--server needs a value"},
      {{"sync", "--all-day-at", "noon"}, "--all-day-at wants a time of day written HH:MM, not \"noon\""},
      {{"mail", "--mailbox", " "}, "--mailbox needs a folder or an imap:// or imaps:// address"},
      {{"mail", "--mailbox", "a", "--mailbox", "b"}, "--mailbox needs a value, once"},
      {{"--bogus", "next"}, "unknown option --bogus"},
      {{"frobnicate"}, "unknown command frobnicate"},
      {{}, "no command given"}};
  for (const auto& [args, said] : bad) {
    EXPECT_EQ(run(kMorning, args), 2) << args.join(' ').toStdString();
    EXPECT_EQ(errors.section('\n', 0, 0), "chimewise-cli: " + said) << args.join(' ').toStdString();
    EXPECT_TRUE(errors.contains("usage: chimewise-cli")) << errors.toStdString();
  }
  QString o, e;
  QTextStream out(&o), err(&e);
  EXPECT_EQ(RunCli({"--now", "noon", "next"}, out, err), 2);
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0);
  EXPECT_TRUE(lines.isEmpty());
  // Text the table cannot hold whole is refused, not cut.
  EXPECT_EQ(run(kMorning, {"add", "--text", QString(500, 'a'), "--activity", "2026-12-04 10:00"}), 1);
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0);
  EXPECT_TRUE(lines.isEmpty());
  EXPECT_EQ(run(kMorning, {"show", "7"}), 1);
  EXPECT_EQ(run(kMorning, {"delete", "7"}), 1);
}

TEST_F(CliTest, ScanSpeaksAndMovesTheAlarms) {
  // A late reminder with a sound, date and time; a countdown reminder still ahead.
  ASSERT_EQ(run(kMorning, {"add", "--text", "Water the plants", "--activity", "2026-12-04 09:50", "--sound", "2",
                           "--memo", "The ferns too", "--say-date", "--say-time"}),
            0);
  ASSERT_EQ(run(kMorning, {"add", "--text", "Train leaves", "--activity", "2026-12-04 11:30", "--remind",
                           "2026-12-04 09:55", "--countdown", "15"}),
            0);
  ASSERT_EQ(run(kMorning, {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 09:50"});

  // A dry run reads the real table: it writes nothing there and copies nothing anywhere.
  const QByteArray before = tableBytes();
  const QString scratch = dir.filePath("tmp");
  QDir().mkpath(scratch);
  qputenv("TMPDIR", scratch.toUtf8());
  ASSERT_EQ(run("2026-12-04 10:00:45", {"due", "--dry-run"}), 0);
  qunsetenv("TMPDIR");
  const QStringList spoken = lines;
  EXPECT_EQ(tableBytes(), before);
  EXPECT_TRUE(QDir(scratch).isEmpty());
  ASSERT_EQ(run(kMorning, {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 09:50"});  // a dry run moves nothing

  ASSERT_EQ(run("2026-12-04 10:00:45", {"due"}), 0);
  EXPECT_EQ(lines, spoken);
  EXPECT_EQ(lines,
            (QStringList{"Sound: 2",
                         "Speak: Reminder, you have an activity scheduled for Friday, December 4, 2026 at 9:50 am",
                         "Speak: Water the plants. Your 10 minutes late.", "Speak: The ferns too",
                         "Speak: Train leaves. In 1 Hour  and 30 minutes"}));
  // The late one repeats after the wait time (10:00:45 counts from 10:01); the countdown one
  // comes back after its step from the current minute.
  EXPECT_EQ(field("1", "ALARMTIME").trimmed(), QString::number(10 * 60 + 6));
  EXPECT_EQ(field("2", "ALARMTIME").trimmed(), QString::number(10 * 60 + 15));
  ASSERT_EQ(run("2026-12-04 10:00:50", {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 10:06"});

  // A reminder whose activity has passed stays current: a scan reads it again, whatever its alarm.
  ASSERT_EQ(run("2026-12-04 10:01:30", {"list"}), 0);
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines.value(0).startsWith("1\t"));
  ASSERT_EQ(run("2026-12-04 10:01:40", {"due"}), 0);
  EXPECT_TRUE(lines.contains("Speak: Water the plants. Your 11 minutes late.")) << lines.join('|').toStdString();
  EXPECT_FALSE(lines.join('|').contains("Train leaves"));
  EXPECT_EQ(field("1", "ALARMTIME").trimmed(), QString::number(10 * 60 + 7));
}

TEST_F(CliTest, SnoozeRoundsAndMovesThePassedActivity) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "Stretch", "--activity", "2026-12-04 10:20"}), 0);
  ASSERT_EQ(run("2026-12-04 10:15:45", {"snooze", "1", "2"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 10:26"});
  EXPECT_EQ(field("1", "ALARMTIME").trimmed(), QString::number(10 * 60 + 26));
  EXPECT_EQ(field("1", "STARTTIME").trimmed(), QString::number(10 * 60 + 26));  // the activity moved with it
  EXPECT_EQ(field("1", "TIMETEXT"), "10:20 am");                                // the time text keeps the old time
  EXPECT_EQ(field("1", "EDITTIME").trimmed(), QString::number(10 * 60 + 15));

  ASSERT_EQ(
      run(kMorning, {"add", "--text", "Far away", "--activity", "2026-12-20 10:00", "--remind", "2026-12-04 09:00"}),
      0);
  ASSERT_EQ(run("2026-12-03 23:50:00", {"snooze", "2", "8"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-10 23:50"});
  EXPECT_EQ(field("2", "EVENTDATE"), "20261220");  // still ahead of the new alarm: unchanged
  ASSERT_EQ(run("2026-12-03 23:50:00", {"snooze", "2", "5"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 02:50"});  // "3 Hours" waits three hours
}

TEST_F(CliTest, DeleteTakesTheReminderOutOfEverything) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "One", "--activity", "2026-12-04 11:00"}), 0);
  ASSERT_EQ(run(kMorning, {"add", "--text", "Two", "--activity", "2026-12-04 12:00"}), 0);
  ASSERT_EQ(run(kMorning, {"delete", "1"}), 0);
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0);
  ASSERT_EQ(lines.size(), 1);
  EXPECT_TRUE(lines[0].startsWith("2\t"));
  ASSERT_EQ(run(kMorning, {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 12:00"});
  EXPECT_EQ(run(kMorning, {"show", "1"}), 1);
  ASSERT_EQ(run(kMorning, {"delete", "2"}), 0);
  ASSERT_EQ(run(kMorning, {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"none"});
}

TEST_F(CliTest, TalkingClockFollowsItsSettings) {
  ASSERT_EQ(run("2026-12-04 15:05:10", {"say-time"}), 0);
  EXPECT_EQ(lines, (QStringList{"Play: Announce", "Speak: The time is 3:05 pm"}));
  QDir().mkpath(dir.filePath("config/Olm Chimewise"));
  QFile f(dir.filePath("config/Olm Chimewise/settings.ini"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(
      "[Big Ben]\nSay TimeODay=1\nSay DayOWeek=1\nSay Date=1\nGesture=\nAnnounce=It is \\pl=Wave\\ now\n"
      "[Defaults]\nTime Format=h:mm\n");
  f.close();
  ASSERT_EQ(run("2026-12-04 15:05:10", {"say-time"}), 0);
  EXPECT_EQ(lines, (QStringList{"Speak: Good Afternoon", "Speak: It is", "Play: Wave", "Speak: now 15:05",
                                "Speak:  on Friday", "Speak: December 4th, 2026"}));
}

// A wall time the clocks skip means the time after the change, with a word to the user; not refused.
TEST_F(CliTest, ATimeTheClocksSkipIsKeptAsTheTimeAfterTheChange) {
  ASSERT_EQ(run("2026-03-28 12:00:00", {"add", "--text", "Night shift", "--activity", "2026-03-29 02:30"}), 0);
  EXPECT_TRUE(errors.contains("02:30 does not exist on 2026-03-29")) << errors.toStdString();
  EXPECT_TRUE(errors.contains("counts as 03:30")) << errors.toStdString();
  ASSERT_EQ(run("2026-03-28 12:00:00", {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-03-29 03:30"});
}

// The activity moment comes from its date and start time, never its display text: every locale
// hears the same lateness, and a snooze keeps the activity's day.
TEST_F(CliTest, OneTableIsReadTheSameUnderEveryLocale) {
  const auto runIn = [&](const char* locale, const QString& now, const QStringList& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", locale);
    env.insert("LANG", locale);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CHIMEWISE_CLI), QStringList{"--app-folder", dir.filePath("app"), "--now", now} + args);
    EXPECT_TRUE(p.waitForFinished(20000));
    errors = QString::fromUtf8(p.readAllStandardError());
    lines = QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    return p.exitCode();
  };
  ASSERT_EQ(runIn("en_US.UTF-8", "2026-12-09 12:00:00",
                  {"add", "--text", "Board meeting", "--activity", "2026-12-10 09:00", "--remind", "2026-12-10 08:55"}),
            0)
      << errors.toStdString();
  for (const char* locale : {"en_GB.UTF-8", "de_DE.UTF-8", "en_US.UTF-8"}) {
    ASSERT_EQ(runIn(locale, "2026-12-10 09:02:00", {"due", "--dry-run"}), 0) << locale;
    EXPECT_EQ(lines, QStringList{"Speak: Board meeting. Your 2 minutes late."}) << locale;
  }
  ASSERT_EQ(runIn("de_DE.UTF-8", "2026-12-10 09:02:00", {"snooze", "1", "4"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, QStringList{"2026-12-10 10:02"});
  EXPECT_EQ(field("1", "EVENTDATE"), "20261210");
  EXPECT_EQ(field("1", "STARTTIME").trimmed(), "602");  // the activity moved with the snooze, on its own day
  EXPECT_EQ(field("1", "DATETEXT"), "12/10/2026 10:02 am");
}

// Keys out of order are met only as the index is brought up to date after the record was written:
// the change stands, so it is reported done with a warning, and the index is rebuilt.
TEST_F(CliTest, AChangeWrittenBeforeTheIndexFailedIsReportedDone) {
  for (int i = 1; i <= 6; ++i)
    ASSERT_EQ(
        run(kMorning, {"add", "--text", QString("Call %1").arg(i), "--activity", QString("2026-12-04 1%1:00").arg(i)}),
        0);
  putAlarmKeysOutOfOrder();
  EXPECT_EQ(run(kMorning, {"delete", "5"}), 0) << errors.toStdString();
  EXPECT_TRUE(errors.startsWith("Warning: ")) << errors.toStdString();
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0) << errors.toStdString();
  EXPECT_EQ(lines.size(), 5);
  EXPECT_FALSE(lines.join('|').contains("Call 5")) << lines.join('|').toStdString();

  putAlarmKeysOutOfOrder();
  EXPECT_EQ(run(kMorning, {"snooze", "1", "1"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, QStringList{"2026-12-04 10:05"});
  EXPECT_TRUE(errors.startsWith("Warning: ")) << errors.toStdString();
  EXPECT_EQ(field("1", "ALARMTIME").trimmed(), QString::number(10 * 60 + 5));
}

// An index found untrusted (keys out of order; a header made for one record more than the table
// holds): a dry run writes nothing, says why it stops and prints none of its work; a command that
// may write rebuilds it and goes on.
TEST_F(CliTest, ADryRunNeverRebuildsAnUntrustedIndexACommandThatMayWriteDoes) {
  for (const bool stale : {false, true}) {
    SCOPED_TRACE(stale ? "stale header" : "keys out of order");
    app = dir.filePath(stale ? "stale" : "unordered");
    for (const char* at : {"2026-12-04 09:50", "2026-12-04 09:55", "2026-12-04 11:00"})
      ASSERT_EQ(run(kMorning, {"add", "--text", "Due at " + QString(at), "--activity", at}), 0);
    if (stale) {
      const std::string cdxPath = (app + "/data/CALENDAR.CDX").toStdString();
      xbase::testing::IndexBytes cdx(xbase::testing::ReadAll(cdxPath));
      cdx.SetTableCount(4);
      xbase::testing::WriteAll(cdxPath, cdx.bytes());
    } else {
      putAlarmKeysOutOfOrder();
    }
    const QByteArray damaged = tableBytes();
    EXPECT_EQ(run(kMorning, {"due", "--dry-run"}), 1);
    EXPECT_EQ(lines, QStringList{});
    EXPECT_TRUE(errors.contains("cannot be repaired by a command that only reads")) << errors.toStdString();
    EXPECT_TRUE(!stale || errors.contains("index is stale")) << errors.toStdString();
    EXPECT_EQ(tableBytes(), damaged);

    EXPECT_EQ(run(kMorning, {"due"}), 0) << errors.toStdString();
    EXPECT_EQ(lines, (QStringList{"Speak: Due at 2026-12-04 09:50. Your 10 minutes late.",
                                  "Speak: Due at 2026-12-04 09:55. Your 5 minutes late."}));
    EXPECT_NE(tableBytes(), damaged);
  }
}

// A Visual FoxPro index where the calendar's belongs: the first command that may write replaces
// it and says so, once; a dry run before it leaves it as it was.
TEST_F(CliTest, AForeignIndexIsReplacedAndThatIsToldOnce) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "Call", "--activity", "2026-12-04 09:50"}), 0);
  xbase::testing::WriteAll((app + "/data/CALENDAR.CDX").toStdString(), xbase::testing::ForeignIndex());
  const QByteArray foreign = tableBytes();
  run(kMorning, {"due", "--dry-run"});
  EXPECT_EQ(tableBytes(), foreign);
  EXPECT_FALSE(errors.contains("made by another program")) << errors.toStdString();
  EXPECT_EQ(run(kMorning, {"list"}), 0) << errors.toStdString();
  EXPECT_EQ(errors, "Warning: CALENDAR.CDX: the index was made by another program and has been rebuilt\n");
  EXPECT_EQ(lines.size(), 1);
  EXPECT_EQ(run(kMorning, {"list"}), 0) << errors.toStdString();
  EXPECT_EQ(errors, "");
}

// A damaged index the lookup after a stored change may not rebuild (another program holds the
// table): the change is done, so exit 0, the running program told, and a warning.
TEST_F(CliTest, WhatFailsAfterTheChangeIsStoredIsAWarning) {
  // Enough alarms for their index to span pages: the first page is damaged, and only the lookup,
  // which starts at the lowest key, reads it; the new reminder's key goes to the last page.
  for (int i = 0; i < 260; ++i) ASSERT_EQ(run(kMorning, {"add", "--text", "Old", "--activity", "2026-12-05 10:00"}), 0);
  putAlarmKeysOutOfOrder();
  xbase::Engine other;
  int area = 0;
  ASSERT_TRUE(
      other.Use(dir.filePath("app/data/CALENDAR.DBF").toStdString(), "OTHER", xbase::OpenMode::kShared, &area).ok());
  instance::SingleInstance program(InstanceKey());  // the running program, listening for the tool
  ASSERT_TRUE(program.becomePrimary());
  QStringList told;
  QObject::connect(&program, &instance::SingleInstance::commandLineReceived,
                   [&](const QString& line) { told << line; });

  EXPECT_EQ(run(kMorning, {"add", "--text", "New", "--activity", "2026-12-06 10:00"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, QStringList{"261"});
  EXPECT_TRUE(errors.startsWith("Warning: ")) << errors.toStdString();
  EXPECT_EQ(run(kMorning, {"delete", "261"}), 0) << errors.toStdString();
  EXPECT_TRUE(errors.startsWith("Warning: ")) << errors.toStdString();
  for (int i = 0; i < 100 && told.size() < 2; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(told, QStringList(2, kRefreshCommand));
  EXPECT_TRUE(other.CloseAll().ok());
  EXPECT_EQ(run(kMorning, {"show", "261"}), 1);  // deleted indeed
}

// Messages quoting outside text keep their line ends and tabs; every other control goes out as \xHH.
TEST(TerminalText, NoControlCharacterReachesTheTerminalRaw) {
  const QString hostile = QString::fromUtf8("a\\b\x1b]0;t\x07\n\tc\x7f\xc2\x9b");
  EXPECT_EQ(TerminalText(hostile), "a\\b\\x1b]0;t\\x07\n\tc\\x7f\\x9b");
  EXPECT_EQ(TerminalLine(hostile), "a\\\\b\\x1b]0;t\\x07\\n\\tc\\x7f\\x9b");
}
