// chimewise-cli driven in-process: each command's wiring, exit code and output, and what it does
// with a damaged or foreign index.
#include "cli/cli.h"
#include "cli/terminal_text.h"
#include "support/cli_fixture.h"
#include "support/qt_print.h"
#include "support/xbase_raw_files.h"

#include <QDir>
#include <QRegularExpression>
#include <gtest/gtest.h>

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

// Every option of add reaches its field; --remind defaults to the activity.
TEST_F(CliTest, AddComposesTheWholeRecord) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "Call the dentist", "--activity", "2026-12-04 15:05", "--remind",
                           "2026-12-04 00:25", "--type", "Phone Call", "--memo", "Line one\nline two", "--sound", "3",
                           "--say-date", "--say-time", "--countdown", "15"}),
            0)
      << errors.toStdString();
  ASSERT_EQ(lines, QStringList{"Added 1: \"Call the dentist\" \u2014 Friday 4 December 2026, 3:05 pm"});
  const QString id = field("1", "REC_NO");
  // 13 bytes, each printed as itself or as \xNN.
  EXPECT_TRUE(QRegularExpression(R"(^E([ -\[\]-~]|\\x[0-9A-F]{2}|\\\\){12}$)").match(id).hasMatch())
      << id.toStdString();
  const std::pair<const char*, const char*> fields[] = {{"APPT_TEXT", "Call the dentist"},
                                                        {"EVENT", "Phone Call"},
                                                        {"COMMENT", "Line one\\nline two"},
                                                        {"EVENTDATE", "20261204"},
                                                        {"STARTTIME", "905"},
                                                        {"ALARMTIME", "25"},
                                                        {"SOUND", "3"},
                                                        {"SAYDATE", "1"},
                                                        {"SAYTIME", "1"},
                                                        {"COUNTDOWN", "15"}};
  for (const auto& [name, value] : fields) EXPECT_EQ(field("1", name).trimmed(), value) << name;
  ASSERT_EQ(run(kMorning, {"add", "--text", "Lunch", "--activity", "2026-12-04 12:30"}), 0);
  EXPECT_EQ(field("2", "ALARMTIME").trimmed(), "750");
}

// Another program's table may hold control characters: list and show print them escaped.
TEST_F(CliTest, ListAndShowPrintControlCharactersEscaped) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "Call QQ]0;owned{ now", "--activity", "2026-12-04 15:05"}), 0);
  QFile dbf(dir.filePath("app/data/CALENDAR.DBF"));
  ASSERT_TRUE(dbf.open(QIODevice::ReadWrite));
  const QByteArray bytes = dbf.readAll().replace("QQ", "\x1b\x01").replace('{', '\x07');
  dbf.seek(0);
  dbf.write(bytes);
  dbf.close();
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0) << errors.toStdString();
  EXPECT_TRUE(lines.value(0).contains("Call \\x1b\\x01]0;owned\\x07 now")) << lines.value(0).toStdString();
  ASSERT_EQ(run(kMorning, {"show", "1"}), 0);
  ExpectNoControls(lines + QStringList{errors});
  // The key (REC_NO, the record's first field) is bytes: as text, each other byte as \xNN.
  ASSERT_TRUE(dbf.open(QIODevice::ReadWrite));
  const QByteArray head = dbf.read(10);
  dbf.seek(static_cast<uchar>(head[8]) + 256 * static_cast<uchar>(head[9]) + 1);
  dbf.write(
      QByteArray("E\\{\xC3\xA3\x7F\x01"
                 "595591",
                 13));
  dbf.close();
  EXPECT_EQ(field("1", "REC_NO"), R"(E\\{\xC3\xA3\x7F\x01595591)");
}

// One line: the time is found at its end or start and taken out. A dry run says how it was read and
// writes nothing; --remind takes a phrase too.
TEST_F(CliTest, AddReadsOneLineAsPeopleSayIt) {
  ASSERT_EQ(run(kMorning, {"add", "--dry-run", "Call mom every weekday at 9:30"}), 0);
  EXPECT_EQ(lines, QStringList{"Would add \"Call mom\" \u2014 Monday 7 December 2026, 9:30 am, repeats every weekday"});
  ASSERT_EQ(run(kMorning, {"add", "in 2 hours stretch", "--remind", "+15"}), 0) << errors.toStdString();
  EXPECT_EQ(lines, QStringList{"Added 1: \"stretch\" \u2014 Friday 4 December 2026, 12:00 pm"});
  EXPECT_EQ(field("1", "STARTTIME").trimmed(), "720");
  EXPECT_EQ(field("1", "ALARMTIME").trimmed(), "615");
}

// Refused lines exit 2 with the reason on one line and where the usage is; nothing is written.
TEST_F(CliTest, BadArgumentsWriteNothing) {
  const std::pair<QStringList, QString> bad[] = {
      {{"add", "--text", "x"}, "add needs --activity"},
      {{"add", "--text", "x", "--activity", "tomorrow soonish"},
       "--activity \"tomorrow soonish\": not understood: \"soonish\""},
      {{"add", "Call mom"}, "no time found in \"Call mom\""},
      {{"add", "Call mom", "--activity", "+5"}, "either as one line or as --text"},
      {{"add", "--text", "x", "--activity", "2026-12-04 10:00", "--sound", "9"}, "from 0 to 8, not \"9\""},
      {{"snooze", "1"}, "snooze takes 2 arguments"},
      {{}, "no command given"}};
  for (const auto& [args, said] : bad) {
    EXPECT_EQ(run(kMorning, args), 2) << args.join(' ').toStdString();
    EXPECT_TRUE(errors.section('\n', 0, 0).contains(said) && errors.section('\n', 1) == "Try 'chimewise-cli --help'\n")
        << errors.toStdString();
  }
  // Text the table cannot hold whole is refused, not cut; an absent record is an error.
  EXPECT_EQ(run(kMorning, {"add", "--text", QString(500, 'a'), "--activity", "2026-12-04 10:00"}), 1);
  EXPECT_EQ(run(kMorning, {"show", "7"}), 1);
  EXPECT_EQ(run(kMorning, {"delete", "7"}), 1);
  ASSERT_EQ(run(kMorning, {"list", "--all"}), 0);
  EXPECT_TRUE(lines.isEmpty());
}

// due prints what the character is asked to do and moves the alarms; a dry run writes nothing anywhere.
TEST_F(CliTest, DueSpeaksAndMovesTheAlarmsADryRunWritesNothing) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "Water the plants", "--activity", "2026-12-04 09:50", "--sound", "2",
                           "--memo", "The ferns too"}),
            0);
  const QByteArray before = tableBytes();
  const QString scratch = dir.filePath("tmp");
  QDir().mkpath(scratch);
  qputenv("TMPDIR", scratch.toUtf8());
  ASSERT_EQ(run("2026-12-04 10:00:45", {"due", "--dry-run"}), 0);
  qunsetenv("TMPDIR");
  const QStringList spoken = lines;
  EXPECT_EQ(tableBytes(), before);
  EXPECT_TRUE(QDir(scratch).isEmpty());

  ASSERT_EQ(run("2026-12-04 10:00:45", {"due"}), 0);
  EXPECT_EQ(lines, spoken);
  EXPECT_EQ(lines,
            (QStringList{"Sound: 2", "Speak: Water the plants. You're 10 minutes late.", "Speak: The ferns too"}));
  ASSERT_EQ(run("2026-12-04 10:00:50", {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 10:06"});
}

TEST_F(CliTest, SnoozeDeleteAndSayTime) {
  ASSERT_EQ(run(kMorning, {"add", "--text", "Stretch", "--activity", "2026-12-04 10:20"}), 0);
  ASSERT_EQ(run(kMorning, {"add", "--text", "Two", "--activity", "2026-12-04 12:00"}), 0);
  ASSERT_EQ(run("2026-12-04 10:15:45", {"snooze", "1", "2"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 10:26"});
  EXPECT_EQ(field("1", "ALARMTIME").trimmed(), QString::number(10 * 60 + 26));
  ASSERT_EQ(run(kMorning, {"delete", "1"}), 0);
  EXPECT_EQ(run(kMorning, {"show", "1"}), 1);
  ASSERT_EQ(run(kMorning, {"next"}), 0);
  EXPECT_EQ(lines, QStringList{"2026-12-04 12:00"});
  ASSERT_EQ(run("2026-12-04 15:05:10", {"say-time"}), 0);
  EXPECT_EQ(lines, (QStringList{"Play: Announce", "Speak: The time is 3:05 pm"}));
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
    EXPECT_EQ(tableBytes(), damaged);

    EXPECT_EQ(run(kMorning, {"due"}), 0) << errors.toStdString();
    ASSERT_EQ(lines.size(), 1);  // the two missed, named in one line
    EXPECT_TRUE(lines[0].contains("Due at 2026-12-04 09:50.") && lines[0].contains("Due at 2026-12-04 09:55."));
    EXPECT_NE(tableBytes(), damaged);
  }
}

// Messages quoting outside text keep their line ends and tabs; every other control goes out as \xHH.
TEST(TerminalText, NoControlCharacterReachesTheTerminalRaw) {
  const QString hostile = QString::fromUtf8("a\\b\x1b]0;t\x07\n\tc\x7f\xc2\x9b");
  EXPECT_EQ(TerminalText(hostile), "a\\b\\x1b]0;t\\x07\n\tc\\x7f\\x9b");
  EXPECT_EQ(TerminalLine(hostile), "a\\\\b\\x1b]0;t\\x07\\n\\tc\\x7f\\x9b");
}

// The command line is read as UTF-8 whatever the locale; a word that is not is refused, naming it.
TEST(CliArguments, ReadAsUtf8AndRefusedWhenNot) {
  const struct {
    std::vector<const char*> argv;
    const char* problem;  // empty: read as given
  } cases[] = {
      {{"cli", "add", "--text", "\xD0\x92\xD1\x81\xD1\x82\xD1\x80\xD0\xB5\xD1\x87\xD0\xB0 \xF0\x9F\x8E\x82"}, ""},
      {{"cli", "add", "--text", "Caf\xE9"}, "--text is not valid UTF-8 (byte 0xE9 at position 4)"},
      {{"cli", "add", "--text=ab\xC3"}, "--text is not valid UTF-8 (byte 0xC3 at position 3)"},
      {{"cli", "show", "\xC0\xAF"}, "argument 2 is not valid UTF-8 (byte 0xC0 at position 1)"},        // overlong
      {{"cli", "--memo", "x\xED\xA0\x80"}, "--memo is not valid UTF-8 (byte 0xA0 at position 3)"},     // surrogate
      {{"cli", "--memo", "\xF4\x90\x80\x80"}, "--memo is not valid UTF-8 (byte 0x90 at position 2)"},  // > U+10FFFF
      {{"cli", "--memo", "\xE2\x82"}, "--memo is not valid UTF-8 (byte 0xE2 at position 1)"},          // cut short
  };
  for (const auto& c : cases) {
    QStringList words;
    const std::optional<QString> problem = ReadArguments(int(c.argv.size()), c.argv.data(), &words);
    EXPECT_EQ(problem.value_or(QString()), QString::fromUtf8(c.problem)) << c.problem;
    if (!problem) {
      EXPECT_EQ(words.last().toUtf8(), QByteArray(c.argv.back()));
    }
  }
}
