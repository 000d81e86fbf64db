// The events kept beside the table: a writer killed at any moment leaves each reminder's old or new
// entry whole, what another process writes is seen at once, and the layout of one file per
// reminder is moved in without overriding what the log has.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "data/kept_events.h"
#include "support/files.h"
#include "support/xbase_fault_env.h"

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

// `work(k)` run in `n` child processes at once (each opens the store for itself); whether all succeeded.
template <typename Work>
bool InChildren(int n, Work work) {
  std::vector<pid_t> kids;
  for (int k = 0; k < n; ++k)
    if (const pid_t kid = fork(); kid == 0)
      _exit(work(k) ? 0 : 1);
    else
      kids.push_back(kid);
  bool ok = true;
  for (pid_t kid : kids) {
    int status = 0;
    ok = waitpid(kid, &status, 0) == kid && WIFEXITED(status) && WEXITSTATUS(status) == 0 && ok;
  }
  return ok;
}

TEST(KeptEvents, WhatAnotherProcessWritesIsSeenAndConcurrentWritersLoseNothing) {
  QTemporaryDir dir;
  const KeptEvents kept = KeptEvents::BesideTable(dir.filePath("CALENDAR.DBF"));
  ASSERT_TRUE(kept.Put(Id(1), Event('a', 3)).ok());
  ASSERT_TRUE(kept.Put(Id(2), Event('a', 3)).ok());
  ASSERT_EQ(Read(kept, 1), "aaaa");
  ASSERT_TRUE(InChildren(1, [&](int) { return kept.Put(Id(1), Event('b', 3)).ok() && kept.Remove(Id(2)).ok(); }));
  EXPECT_EQ(Read(kept, 1), "bbbb");
  EXPECT_EQ(Read(kept, 2), "none");
  // A compaction elsewhere (the program's start) replaces the log under this process's index.
  ASSERT_TRUE(InChildren(1, [&](int) { return kept.Put(Id(3), Event('c', 3)).ok() && kept.Prune({Id(3)}) == 1; }));
  EXPECT_EQ(Read(kept, 1), "none");
  EXPECT_EQ(Read(kept, 3), "cccc");

  // Three writers at once: each waits for its turn, and nothing is lost.
  ASSERT_TRUE(InChildren(3, [&](int k) {
    bool ok = true;
    for (int i = 0; i < 40; ++i) ok = ok && kept.Put(Id(100 * (k + 1) + i), Event(char('d' + k), i)).ok();
    return ok;
  }));
  for (int k = 0; k < 3; ++k)
    for (int i = 0; i < 40; ++i)
      EXPECT_EQ(Read(kept, 100 * (k + 1) + i), QByteArray(i + 1, char('d' + k))) << k << " " << i;
}

// An import, a single save and a compaction (a deleted reminder pruned) stopped at each of their
// writes, truncations and renames in turn: by a crash just before it, or by a write torn half way.
TEST(KeptEvents, AWriterStoppedAtAnyStepLeavesEachReminderOldOrNewWhole) {
  constexpr int kReminders = 5;
  QTemporaryDir dir;
  const KeptEvents kept = KeptEvents::BesideTable(dir.filePath("CALENDAR.DBF"));
  std::vector<std::pair<QByteArray, KeptEvent>> olds, news;
  QSet<QByteArray> live;
  for (int i = 0; i < kReminders; ++i) {
    olds.push_back({Id(i), Event('o', 3000)});
    news.push_back({Id(i), Event('n', 3000)});
    live.insert(Id(i));
  }
  ASSERT_TRUE(kept.PutMany(olds).ok());
  const QString log = kept.folder() + "/events.log";
  const QByteArray before = testsupport::Slurp(log);
  int faults = 0;
  for (int step = 0; step < 20; ++step) {
    for (const bool torn : {false, true}) {
      testsupport::Touch(log + ".new", before);  // the log as it was, as another file
      ASSERT_TRUE(QFile::remove(log) && QFile::rename(log + ".new", log));
      const pid_t kid = fork();
      if (kid == 0) {
        xbase::FaultInjectionEnv env(xbase::Env::Default());
        env.FailAfter(step);
        if (torn) env.SetWriteFault(xbase::FaultInjectionEnv::WriteFault::kTorn);
        if (!torn) env.SetCrashHook([] { _exit(3); });
        const KeptEvents faulty = KeptEvents::BesideTable(dir.filePath("CALENDAR.DBF"), &env);
        faulty.PutMany(news).ok();
        faulty.Put(Id(kReminders), Event('x')).ok();
        faulty.Prune(live);
        _exit(env.faults() > 0 ? 3 : 0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(kid, &status, 0), kid);
      faults += WEXITSTATUS(status) == 3 ? 1 : 0;
      for (int i = 0; i < kReminders; ++i) {
        const QByteArray r = Read(kept, i);
        EXPECT_TRUE(r == QByteArray(3001, 'o') || r == QByteArray(3001, 'n'))
            << "step " << step << (torn ? " torn" : " crash") << ", reminder " << i << ": " << r.left(20).constData();
      }
      ASSERT_TRUE(kept.Put(Id(kReminders + 1), Event('y')).ok()) << "the next writer goes on";
      if (WEXITSTATUS(status) == 0) step = 20;
    }
  }
  EXPECT_GE(faults, 6);  // each write of the import, the save and the compaction and its rename
}

TEST(KeptEvents, FilesOfTheLayoutBeforeAreMovedInOnceAndNeverOverrideTheLog) {
  QTemporaryDir dir;
  const KeptEvents kept = KeptEvents::BesideTable(dir.filePath("CALENDAR.DBF"));
  // A move stopped before its files were removed: the log has reminder 2 already, changed since.
  ASSERT_TRUE(InChildren(1, [&](int) { return kept.Put(Id(2), Event('n', 3)).ok(); }));
  const auto plant = [&](const QString& name, const QByteArray& bytes) {
    testsupport::Touch(kept.folder() + u'/' + name, bytes);
  };
  const auto json = [](const char* uid, const char* resource) {
    return QByteArray(R"({"uid":")") + uid + R"(","resource":")" + resource + R"("})";
  };
  plant(Id(1).toHex() + ".json", json("o", "old"));
  plant(Id(2).toHex() + ".json", json("o", "old"));
  plant(Id(3).toHex() + ".json", "{\"uid\":\"cut sh");
  plant(Id(4).toHex() + ".json.new", json("o", "aside"));  // a save cut short
  EXPECT_EQ(Read(kept, 1), "oold");
  EXPECT_EQ(Read(kept, 2), "nnnn");
  EXPECT_EQ(Read(kept, 3), "none");  // unreadable before, unreadable now
  EXPECT_EQ(Read(kept, 4), "none");
  EXPECT_EQ(QDir(kept.folder()).entryList({"*.json*"}, QDir::Files), QStringList());
}

}  // namespace
}  // namespace chimewise
