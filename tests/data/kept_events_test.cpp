// The events kept beside the table: a writer killed at any moment leaves each reminder's old or new
// entry whole, what another process writes is seen at once, and the layout of one file per
// reminder is moved in without overriding what the log has.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "data/kept_events.h"

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

namespace chimewise {
namespace {

QByteArray Id(int i) { return QByteArray::number(20270104000000LL + i); }

KeptEvent Event(char fill, int size = 40) {
  KeptEvent k;
  k.uid = QString(fill);
  k.resource = QByteArray(size, fill);
  return k;
}

// What the reminder keeps as "<uid><resource>", or "none".
QByteArray Read(const KeptEvents& kept, int i) {
  const std::optional<KeptEvent> k = kept.Get(Id(i));
  return k ? k->uid.toLatin1() + k->resource : QByteArray("none");
}

// `work` run in a child process (which opens the store for itself); true when it succeeded.
template <typename Work>
bool InChild(Work work) {
  const pid_t kid = fork();
  if (kid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  waitpid(kid, &status, 0);
  return kid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(KeptEvents, WhatAnotherProcessWritesIsSeenAndConcurrentWritersLoseNothing) {
  QTemporaryDir dir;
  const KeptEvents kept = KeptEvents::BesideTable(dir.filePath("CALENDAR.DBF"));
  ASSERT_TRUE(kept.Put(Id(1), Event('a', 3)).ok());
  ASSERT_TRUE(kept.Put(Id(2), Event('a', 3)).ok());
  ASSERT_EQ(Read(kept, 1), "aaaa");
  ASSERT_TRUE(InChild([&] { return kept.Put(Id(1), Event('b', 3)).ok() && kept.Remove(Id(2)).ok(); }));
  EXPECT_EQ(Read(kept, 1), "bbbb");
  EXPECT_EQ(Read(kept, 2), "none");
  // A compaction elsewhere (the program's start) replaces the log under this process's index.
  ASSERT_TRUE(InChild([&] { return kept.Put(Id(3), Event('c', 3)).ok() && kept.Prune({Id(3)}) == 1; }));
  EXPECT_EQ(Read(kept, 1), "none");
  EXPECT_EQ(Read(kept, 3), "cccc");

  pid_t kids[2];
  for (int k = 0; k < 2; ++k) {
    kids[k] = fork();
    ASSERT_GE(kids[k], 0);
    if (kids[k] == 0) {
      for (int i = 0; i < 40; ++i)
        if (!kept.Put(Id(100 * (k + 1) + i), Event(char('d' + k), i)).ok()) _exit(1);
      _exit(0);
    }
  }
  for (pid_t kid : kids) {
    int status = 0;
    waitpid(kid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < 40; ++i)
      EXPECT_EQ(Read(kept, 100 * (k + 1) + i), QByteArray(i + 1, char('d' + k))) << k << " " << i;
}

TEST(KeptEvents, AWriterKilledAtAnyMomentLeavesEachReminderOldOrNewWhole) {
  constexpr int kReminders = 40;
  constexpr int kSize = 30000;
  QTemporaryDir dir;
  const KeptEvents kept = KeptEvents::BesideTable(dir.filePath("CALENDAR.DBF"));
  QSet<QByteArray> live;
  std::vector<std::pair<QByteArray, KeptEvent>> batch;
  for (int i = 0; i < kReminders; ++i) {
    live.insert(Id(i));
    batch.push_back({Id(i), Event('A', kSize)});
  }
  ASSERT_TRUE(kept.PutMany(batch).ok());
  for (int round = 0; round < 16; ++round) {
    const pid_t kid = fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
      // Imports, single saves and compactions (a deleted reminder pruned), over and over.
      for (int g = 0;; ++g) {
        for (auto& [id, k] : batch) k = Event(char('B' + g % 20), kSize);
        kept.PutMany(batch).ok();
        kept.Put(Id(kReminders), Event('x')).ok();
        kept.Prune(live);
      }
    }
    usleep(static_cast<useconds_t>(3000 + round * 2300));
    kill(kid, SIGKILL);
    waitpid(kid, nullptr, 0);
    for (int i = 0; i < kReminders; ++i) {
      const QByteArray r = Read(kept, i);
      ASSERT_EQ(r.size(), kSize + 1) << "round " << round << ", reminder " << i << ": " << r.left(40).constData();
      EXPECT_EQ(r.count(r.at(0)), kSize + 1) << "a half-written entry in round " << round;
    }
    ASSERT_TRUE(kept.Put(Id(kReminders + 1), Event('y')).ok()) << "a dead writer's lock must not block the next";
    EXPECT_EQ(Read(kept, kReminders + 1), QByteArray(41, 'y'));
  }
}

TEST(KeptEvents, FilesOfTheLayoutBeforeAreMovedInOnceAndNeverOverrideTheLog) {
  QTemporaryDir dir;
  const KeptEvents kept = KeptEvents::BesideTable(dir.filePath("CALENDAR.DBF"));
  // A move stopped before its files were removed: the log has reminder 2 already, changed since.
  ASSERT_TRUE(InChild([&] { return kept.Put(Id(2), Event('n', 3)).ok(); }));
  const auto plant = [&](const QString& name, const QByteArray& bytes) {
    QFile f(kept.folder() + u'/' + name);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
  };
  const auto json = [](const char* uid, const char* resource) {
    return QByteArray(R"({"uid":")") + uid + R"(","resource":")" + resource + R"("})";
  };
  ASSERT_TRUE(plant(Id(1).toHex() + ".json", json("o", "old")));
  ASSERT_TRUE(plant(Id(2).toHex() + ".json", json("o", "old")));
  ASSERT_TRUE(plant(Id(3).toHex() + ".json", "{\"uid\":\"cut sh"));
  ASSERT_TRUE(plant(Id(4).toHex() + ".json.new", json("o", "aside")));
  EXPECT_EQ(Read(kept, 1), "oold");
  EXPECT_EQ(Read(kept, 2), "nnnn");
  EXPECT_EQ(Read(kept, 3), "none");  // unreadable before, unreadable now
  EXPECT_EQ(Read(kept, 4), "none");
  EXPECT_EQ(QDir(kept.folder()).entryList({"*.json*"}, QDir::Files), QStringList());
  EXPECT_TRUE(InChild([&] { return Read(kept, 1) == "oold" && Read(kept, 2) == "nnnn"; }));
}

}  // namespace
}  // namespace chimewise
