#include "core/settings_store.h"
#include "core/settings_keys.h"
#include "core/startup_settings.h"
#include "core/time_format.h"
#include "core/value_reading.h"
#include "support/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace chimewise;

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path() const { return dir.filePath("conf/settings.ini"); }
  void writeRaw(const QByteArray& bytes) { testsupport::Touch(path(), bytes); }
  QByteArray file() const { return testsupport::Slurp(path()); }
};

}  // namespace

// Defaults without a file; names in any case replace; an unwritable place fails visibly, reads work.
TEST_F(SettingsStoreTest, DefaultsNamesInAnyCaseAndAnUnwritablePlace) {
  SettingsStore s(path());
  EXPECT_EQ(s.read(settings::LastCheck), "1-JAN-1980 00:01");
  EXPECT_FALSE(NotZeroReading(s.read(settings::CheckMail)));
  EXPECT_TRUE(NotZeroReading(s.read(settings::CheckMail, settings::CheckMailOptionsReaderDefault)));
  EXPECT_FALSE(QFile::exists(path()));
  ASSERT_TRUE(s.write("Big Ben", "Say TimeODay", "1"));
  ASSERT_TRUE(s.write("big ben", "SAY TIMEODAY", "0"));
  EXPECT_EQ(s.read(settings::SayTimeOfDay), "0");
  EXPECT_EQ(QString::fromUtf8(file()).count("TimeODay", Qt::CaseInsensitive), 1);
  EXPECT_EQ(QString::fromUtf8(file()).count("[Big Ben]", Qt::CaseInsensitive), 1);

  SettingsStore folder(dir.filePath("conf"));
  EXPECT_EQ(folder.read(settings::WaitTime), "5");
  EXPECT_FALSE(folder.write(settings::WaitTime, "9"));
  EXPECT_FALSE(folder.lastError().isEmpty());
}

TEST_F(SettingsStoreTest, AnyTextSurvivesARoundTrip) {
  // clang-format off
  const QStringList values = {" leading and trailing ", "a=b", "[x]", "back\\slash\\n", "line\nbreak\r\ttab", "",
                              "\\s", "caf\u00e9 \u263A", "=", "  ", "\\pl=Wave\\ \\", "\\spd=140\\the time",
                              " \\spd=140\\ ", "\"quoted\"", "\"", "\"\"", "\t\\", "\\\\Vol=5\\\\n\n"};
  // clang-format on
  {
    SettingsStore s(path());
    for (int i = 0; i < values.size(); ++i) ASSERT_TRUE(s.write("Sec=tion]", QString("key %1").arg(i), values[i]));
    ASSERT_TRUE(s.write("Sec=tion]", "we=ird]", "v"));
  }
  SettingsStore again(path());
  for (int i = 0; i < values.size(); ++i) EXPECT_EQ(again.read("sec=tion]", QString("KEY %1").arg(i), "?"), values[i]);
  EXPECT_EQ(again.read("Sec=tion]", "we=ird]", "?"), "v");
}

// Speech-tag backslashes stand for themselves, and a save leaves every other line byte for byte.
TEST_F(SettingsStoreTest, AHandWrittenFileIsReadAsWrittenAndASaveLeavesEveryOtherLine) {
  writeRaw(
      "[Big Ben]\r\nAnnounce=\\spd=140\\The time is\r\n; note \xff\xfe\n[Defaults]\nWait Time=5\n"
      "Time Format=\\Rst\\\\Vol=5\\the h:mm\nSound=a\xff"
      "b");
  SettingsStore s(path());
  EXPECT_EQ(s.read(settings::AnnouncePhrase), "\\spd=140\\The time is");
  EXPECT_EQ(s.read(settings::TimeFormat), "\\Rst\\\\Vol=5\\the h:mm");
  ASSERT_TRUE(s.write(settings::WaitTime, "7"));
  ASSERT_TRUE(s.write(settings::SayDate, "1"));
  EXPECT_EQ(file(), QByteArray("[Big Ben]\r\nAnnounce=\\spd=140\\The time is\r\nSay Date=1\n; note \xff\xfe\n"
                               "[Defaults]\nWait Time=7\nTime Format=\\Rst\\\\Vol=5\\the h:mm\nSound=a\xff"
                               "b\n"));
}

TEST_F(SettingsStoreTest, HugeValuesAreUnreadableAndGetTheirDefault) {
  const QByteArray huge(1 << 20, 'h');
  writeRaw("[Defaults]\nTime Format=" + huge + "\nSound=" + QByteArray(4096, 'x') +
           "\n[Big Ben]\nAnnounce=" + QByteArray(4097, 'x') + "\n");
  SettingsStore s(path());
  EXPECT_EQ(s.read(settings::TimeFormat), "h:mm am/pm");
  EXPECT_EQ(s.read("Big Ben", "Announce", "d"), "d");
  EXPECT_EQ(s.read(settings::LastSound).size(), 4096);  // the bound itself is still sane
  EXPECT_EQ(ReadStartUpSettings(s).timeFormat, "h:mm am/pm");
  // A time pattern has its own, far shorter bound.
  ASSERT_TRUE(s.write(settings::TimeFormat, QString(32, u'h')));
  EXPECT_EQ(s.read(settings::TimeFormat), QString(32, u'h'));
  ASSERT_TRUE(s.write(settings::TimeFormat, QString(33, u'h')));
  EXPECT_EQ(s.read(settings::TimeFormat), "h:mm am/pm");
  // Nothing is lost: the unreadable value stays in the file until written over.
  EXPECT_TRUE(file().contains("Announce=" + QByteArray(4097, 'x') + "\n"));
}

TEST_F(SettingsStoreTest, DamagedFileReadsAsDefaultsAndKeepsWhatItCan) {
  writeRaw(
      "garbage line\n[Big Ben\nInterval=3\n[Defaults]\n=novalue\nWait Time=12 minutes\n\xff\xfe\x00junk\n"
      "[Big Ben]\nStart Time=not a time\n");
  SettingsStore s(path());
  EXPECT_EQ(NumericReading(s.read(settings::WaitTime)), 12);
  EXPECT_EQ(s.read(settings::AnnounceInterval), "6");  // the broken header does not open a section
  // An unreadable time counts as its default.
  EXPECT_EQ(ParseTimeText(s.read(settings::StartTime)).value_or(*ParseTimeText("7:00:00 AM")), QTime(7, 0));
  ASSERT_TRUE(s.write(settings::AnnounceInterval, "2"));
  SettingsStore again(path());
  EXPECT_EQ(again.read(settings::AnnounceInterval), "2");
  EXPECT_EQ(again.read(settings::WaitTime), "12 minutes");  // a write loses nothing else
  EXPECT_TRUE(file().contains("garbage line"));
}

TEST_F(SettingsStoreTest, SeesWhatAnotherWriterStored) {
  SettingsStore a(path());
  SettingsStore b(path());
  EXPECT_EQ(a.read(settings::WaitTime), "5");  // cached while unchanged
  ASSERT_TRUE(b.write(settings::WaitTime, "15"));
  EXPECT_EQ(a.read(settings::WaitTime), "15");
  ASSERT_TRUE(a.write(settings::ReadMemos, "0"));
  EXPECT_EQ(b.read(settings::WaitTime), "15");
  EXPECT_EQ(b.read(settings::ReadMemos), "0");
}

TEST_F(SettingsStoreTest, ConcurrentWritersFromTwoProcessesLoseNothing) {
  const QString p = path();
  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = fork();
    ASSERT_GE(kids[k], 0);
    if (kids[k] == 0) {
      SettingsStore s(p);
      for (int i = 0; i < 40; ++i)
        if (!s.write(QString("Writer %1").arg(k), QString("Key %1").arg(i), QString::number(i))) _exit(1);
      _exit(0);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    waitpid(kid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SettingsStore s(p);
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 40; ++i)
      EXPECT_EQ(s.read(QString("Writer %1").arg(k), QString("Key %1").arg(i), "lost"), QString::number(i));
}

TEST_F(SettingsStoreTest, AWriterKilledMidWriteLeavesTheOldOrTheNewValue) {
  const QString p = path();
  {
    SettingsStore s(p);
    ASSERT_TRUE(s.write("Big", "Value", QString(SettingsStore::kMaxValueLength, QChar('a'))));
    ASSERT_TRUE(s.write("Other", "Kept", "yes"));
  }
  for (int round = 0; round < 12; ++round) {
    pid_t kid = fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
      SettingsStore s(p);
      for (int i = 0;; ++i) s.write("Big", "Value", QString(SettingsStore::kMaxValueLength, QChar('b' + i % 20)));
    }
    usleep(static_cast<useconds_t>(2000 + round * 1700));
    kill(kid, SIGKILL);
    waitpid(kid, nullptr, 0);
    SettingsStore s(p);
    const QString v = s.read("Big", "Value", "missing");
    ASSERT_EQ(v.size(), 4096) << "round " << round;
    EXPECT_EQ(v.count(v.at(0)), 4096) << "a half-written value in round " << round;
    EXPECT_EQ(s.read("Other", "Kept", "lost"), "yes");
    EXPECT_TRUE(s.write("Other", "Kept", "yes")) << "a dead writer's lock must not block the next one";
  }
}
