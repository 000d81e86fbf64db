// The work queue: results come back in order on the owner's thread; destruction joins, runs what
// was queued and hands nothing back.
#include "support/event_wait.h"

#include <offthread/off_thread.h>

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <thread>

using offthread::WorkQueue;

namespace {

QCoreApplication& App() {
  static int argc = 1;
  static char name[] = "offthread-tests";
  static char* argv[] = {name, nullptr};
  static auto* app = new QCoreApplication(argc, argv);
  return *app;
}

}  // namespace

TEST(WorkQueue, ResultsComeBackInOrderOnTheOwnersThreadAndDestructionJoinsWithoutHandingBack) {
  App();
  QObject owner;
  std::vector<int> back;
  std::atomic<int> ran{0};
  bool sawStop = false;
  {
    WorkQueue queue(&owner);
    for (int i = 0; i < 3; ++i)
      queue.Run([i](const std::atomic<bool>&) { return i; },
                [&](int r) {
                  EXPECT_EQ(QThread::currentThread(), owner.thread());
                  back.push_back(r);
                });
    ASSERT_TRUE(chimewise::testsupport::RunEventsUntil([&] { return back.size() == 3; }, 5000));
    EXPECT_EQ(back, (std::vector<int>{0, 1, 2}));

    // A long piece runs when the queue goes, a second waits behind it: the destructor stops
    // the first, still runs the second, and neither hands anything back.
    std::atomic<bool> started{false};
    queue.Run(
        [&](const std::atomic<bool>& stop) {
          started = true;
          while (!stop) std::this_thread::yield();
          sawStop = true;
          ++ran;
        },
        [&] { back.push_back(-1); });
    queue.Post([&](const std::atomic<bool>&) { ++ran; });
    while (!started) std::this_thread::yield();
  }
  EXPECT_TRUE(sawStop);
  EXPECT_EQ(ran, 2);
  chimewise::testsupport::RunEventsFor(50);
  EXPECT_EQ(back.size(), 3u);
}
