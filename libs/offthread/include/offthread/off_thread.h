#pragma once
// Work that would hold up the caller's thread (the thread of the windows and the timers), run on
// a thread its owner joins, its result handed back on the thread of the object that asked for it.
//
// OffThread: one piece of work on a thread of its own (a parse, a transfer).
// WorkQueue: pieces of work one after another on one thread, in the order given (a mail check,
// then the marking of what it read).
// Both hand a result back through the owner's event loop, and only while they still exist:
// whatever comes back after they are destroyed is dropped, and so is whatever comes back to an
// owner that is gone (Qt drops events queued for a destroyed object). Their destructors join.

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace offthread {

// Runs `work` on a thread that belongs to this object and hands its result to `done` on the
// thread of `owner`, through the owner's event loop, if this object still exists then. The owner
// owns this object (or outlives it). Destroying it asks the work to stop (`stop` turns true: long
// work looks at it) and joins the thread; a result that comes after that is dropped. Stop() does
// the same without waiting.
template <typename Result>
class OffThread {
 public:
  using Work = std::function<Result(const std::atomic<bool>& stop)>;
  using Done = std::function<void(Result)>;

  OffThread(QObject* owner, Work work, Done done) : m_shared(std::make_shared<Shared>()) {
    m_shared->done = std::move(done);
    m_thread = std::thread([shared = m_shared, owner, work = std::move(work)] {
      auto result = std::make_shared<Result>(work(shared->stop));
      QMetaObject::invokeMethod(
          owner,
          [shared, result] {
            if (!shared->stop.load() && shared->done) shared->done(std::move(*result));
          },
          Qt::QueuedConnection);
    });
  }
  ~OffThread() {
    Stop();
    m_thread.join();
  }
  OffThread(const OffThread&) = delete;
  OffThread& operator=(const OffThread&) = delete;

  // The result, once there, is dropped; the work is asked to stop.
  void Stop() { m_shared->stop = true; }

 private:
  struct Shared {
    std::atomic<bool> stop{false};
    Done done;
  };
  std::shared_ptr<Shared> m_shared;
  std::thread m_thread;
};

// One thread, started with the first piece of work, that runs the pieces in the order given.
// Run's `done` gets the piece's result on the owner's thread, through its event loop, while this
// queue exists. Destroying the queue sets `stop` (long work looks at it), lets the thread run what
// is queued (a piece that must not be lost, such as marking messages read, still happens) without
// handing anything back, and joins it. A piece's work and what it holds are destroyed on the
// thread. Inline: each piece runs at once in the caller and `done` is called before Run
// returns (a tool with no event loop to wait in).
class WorkQueue {
 public:
  explicit WorkQueue(QObject* owner) : m_owner(owner), m_shared(std::make_shared<Shared>()) {}
  ~WorkQueue() {
    {
      std::lock_guard lock(m_shared->mutex);
      m_shared->stop = true;
      m_shared->closing = true;
    }
    m_shared->wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
  }
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  void setInline(bool on) { m_inline = on; }

  // work: Result(const std::atomic<bool>& stop); done: void(Result), or void() for a work that
  // returns nothing.
  template <typename Work, typename Done>
  void Run(Work work, Done done) {
    using Result = std::invoke_result_t<Work&, const std::atomic<bool>&>;
    if (m_inline) {
      if constexpr (std::is_void_v<Result>) {
        work(m_shared->stop);
        done();
      } else {
        done(work(m_shared->stop));
      }
      return;
    }
    enqueue([shared = m_shared, owner = m_owner, work = std::move(work), done = std::move(done)]() mutable {
      std::function<void()> back;
      if constexpr (std::is_void_v<Result>) {
        work(shared->stop);
        back = [shared, done = std::move(done)]() mutable {
          if (!shared->stop.load()) done();
        };
      } else {
        auto result = std::make_shared<Result>(work(shared->stop));
        back = [shared, result, done = std::move(done)]() mutable {
          if (!shared->stop.load()) done(std::move(*result));
        };
      }
      if (!shared->stop.load()) QMetaObject::invokeMethod(owner, std::move(back), Qt::QueuedConnection);
    });
  }

  // A piece of work whose end nobody waits for.
  template <typename Work>
  void Post(Work work) {
    if (m_inline)
      work(m_shared->stop);
    else
      enqueue([shared = m_shared, work = std::move(work)]() mutable { work(shared->stop); });
  }

 private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool closing = false;
    std::atomic<bool> stop{false};
  };

  void enqueue(std::function<void()> job) {
    {
      std::lock_guard lock(m_shared->mutex);
      m_shared->jobs.push_back(std::move(job));
    }
    m_shared->wake.notify_one();
    if (!m_thread.joinable()) m_thread = std::thread([shared = m_shared] { drain(*shared); });
  }

  static void drain(Shared& shared) {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock lock(shared.mutex);
        shared.wake.wait(lock, [&] { return shared.closing || !shared.jobs.empty(); });
        if (shared.jobs.empty()) return;  // closing, and nothing left
        job = std::move(shared.jobs.front());
        shared.jobs.pop_front();
      }
      job();
    }  // the job, and what it holds, go here, on this thread
  }

  QObject* m_owner;
  std::shared_ptr<Shared> m_shared;
  std::thread m_thread;
  bool m_inline = false;
};

}  // namespace offthread
