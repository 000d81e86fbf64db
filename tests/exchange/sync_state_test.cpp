#include "exchange/sync_state.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

namespace chimewise {
namespace {

const QString kCollection = "https://cal.example.org/dav/anna/reminders/";

SyncState SampleState() {
  SyncState s;
  s.collection = kCollection;
  s.syncToken = "http://radicale.org/ns/sync/abc";
  s.entries.push_back({"20270105-dentist@example.org", QByteArray("\x01\xff\x80Z", 4), "/dav/anna/reminders/a.ics",
                       "\"e1\"", QByteArray::fromHex("00112233"), QByteArray::fromHex("00112233"), QDateTime()});
  s.entries.push_back({"L2", QByteArray("2027010509123456"), "/dav/anna/reminders/b.ics", QString(),
                       QByteArray::fromHex("aa"), QByteArray::fromHex("bb"),
                       QDateTime(QDate(2027, 1, 5), QTime(9, 30, 15, 250), Qt::UTC)});
  return s;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly));
  return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(bytes), bytes.size());
}

class SyncStateFile : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path() const { return dir.filePath("calendar.sync"); }
};

// Written whole, every field reads back; cut anywhere, it reads as no state, never as part of one.
TEST_F(SyncStateFile, EveryTruncationReadsAsNoStateOrTheWholeState) {
  const SyncState s = SampleState();
  ASSERT_EQ(WriteSyncState(path(), s), "");
  const QByteArray whole = ReadAll(path());
  ASSERT_GT(whole.size(), 100);
  // Every cut near either end, and every seventh byte between; then the whole file.
  for (qsizetype n = 0; n <= whole.size(); n += (n < 64 || n > whole.size() - 64) ? 1 : 7) {
    WriteBytes(path(), whole.left(n));
    const SyncStateRead read = ReadSyncState(path(), kCollection);
    if (read.state.empty()) {
      EXPECT_NE(read.ignored, "") << "cut at " << n;
    } else {
      // Only the closing blanks may go and the state still be read: then it is read whole.
      EXPECT_EQ(whole.mid(n).trimmed(), "") << "cut at " << n;
      EXPECT_EQ(read.state, s) << "cut at " << n;
    }
  }
  EXPECT_EQ(ReadSyncState(path(), kCollection).state, s);
}

TEST_F(SyncStateFile, DamagedContentReadsAsNoState) {
  ASSERT_EQ(WriteSyncState(path(), SampleState()), "");
  const QByteArray good = ReadAll(path());
  const struct {
    const char* what;
    QByteArray from;
    QByteArray to;
  } damages[] = {
      {"another version", "\"version\": 1", "\"version\": 2"},
      {"version as text", "\"version\": 1", "\"version\": \"1\""},
      {"another format", "chimewise-calendar-sync", "something-else"},
      {"odd hexadecimal", "\"00112233\"", "\"0011223\""},
      {"not hexadecimal", "\"00112233\"", "\"0011zz33\""},
      {"empty uid", "\"L2\"", "\"\""},
      {"uid as a number", "\"L2\"", "2"},
      {"a uid twice", "\"L2\"", "\"20270105-dentist@example.org\""},
      {"a resource twice", "/b.ics", "/a.ics"},
      {"a bad moment", "2027-01-05T09:30:15.250Z", "2027-13-05T09:30:15.250Z"},
      {"entries not a list", "\"entries\": [", "\"entries\": {\"x\": ["},
      {"binary garbage", "{", QByteArray("\0\xff{", 3)},
  };
  for (const auto& d : damages) {
    QByteArray bytes = good;
    ASSERT_TRUE(bytes.contains(d.from)) << d.what;
    bytes.replace(bytes.indexOf(d.from), d.from.size(), d.to);
    WriteBytes(path(), bytes);
    const SyncStateRead read = ReadSyncState(path(), kCollection);
    EXPECT_TRUE(read.state.empty()) << d.what;
    EXPECT_NE(read.ignored, "") << d.what;
  }
}

// Each file that is not read says why; each write that is refused leaves nothing behind.
TEST_F(SyncStateFile, WhatIsNotOursOrTooLargeIsNeitherReadNorWritten) {
  const auto ignored = [&](const char* why) {
    const SyncStateRead read = ReadSyncState(path(), kCollection);
    EXPECT_TRUE(read.state.empty()) << why;
    EXPECT_TRUE(read.ignored.contains(why)) << read.ignored.toStdString();
  };
  ASSERT_EQ(WriteSyncState(path(), SampleState()), "");
  EXPECT_TRUE(ReadSyncState(path(), "https://cal.example.org/dav/anna/work/").ignored.contains("another collection"));
  ASSERT_TRUE(QFile::resize(path(), kMaxSyncStateBytes + 1));
  ignored("larger");
  ASSERT_TRUE(QFile::remove(path()));

  // A link in its place is not read, nor written through: the file it points at stays as it was.
  const QString real = dir.filePath("elsewhere.sync");
  ASSERT_EQ(WriteSyncState(real, SampleState()), "");
  ASSERT_TRUE(QFile::link(real, path()));
  ignored("not a regular file");
  const QByteArray before = ReadAll(real);
  EXPECT_NE(WriteSyncState(path(), SyncState{kCollection, "", {}}), "");
  EXPECT_EQ(ReadAll(real), before);
  ASSERT_TRUE(QFile::remove(path()) && QFile::remove(real));

  SyncState tooMany{kCollection, "", {}};
  tooMany.entries.resize(static_cast<size_t>(kMaxSyncEntries) + 1);
  EXPECT_NE(WriteSyncState(path(), tooMany), "");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

}  // namespace
}  // namespace chimewise
