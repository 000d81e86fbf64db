#pragma once
// Work that would hold up the thread of the windows and the reminder timer, run on a thread of its
// own, its result handed back on the thread of the object that asked for it.

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace chimewise {

// Runs `work` on a thread that belongs to this object and hands its result to `done` on the
// thread of `owner`, through the owner's event loop, if this object still exists then. The owner
// owns this object (or outlives it). Destroying it asks the work to stop (`stop` turns true: long
// work looks at it) and joins the thread; a result that comes after that is dropped, and so is one
// whose owner is gone (Qt drops events queued for a destroyed object). Stop() does the same
// without waiting.
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

}  // namespace chimewise
