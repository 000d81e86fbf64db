#include "agent/timer_clock.h"

#include <QTimer>

#include <algorithm>

namespace agent {

TimerClock::~TimerClock() = default;

Timer::Timer(TimerClock& clock) : m_clock(clock) {}

Timer::~Timer() {
  if (m_active) --m_clock.m_active;
}

void Timer::start(qint64 ms) {
  ms = std::max<qint64>(ms, 0);
  if (!m_active) ++m_clock.m_active;
  m_active = true;
  m_due = m_clock.nowMs() + ms;
  arm(ms);
}

void Timer::stop() {
  if (!m_active) return;
  m_active = false;
  --m_clock.m_active;
  disarm();
}

void Timer::fire() {
  if (!m_active) return;
  m_active = false;
  --m_clock.m_active;
  emit timeout();
}

namespace {

class QtTimer final : public Timer {
 public:
  explicit QtTimer(TimerClock& clock) : Timer(clock) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] { fire(); });
  }

 private:
  void arm(qint64 ms) override { m_timer.start(static_cast<int>(std::min<qint64>(ms, 1 << 30))); }
  void disarm() override { m_timer.stop(); }
  QTimer m_timer;
};

}  // namespace

SystemTimerClock::SystemTimerClock() { m_elapsed.start(); }

std::unique_ptr<Timer> SystemTimerClock::createTimer() { return std::unique_ptr<Timer>(new QtTimer(*this)); }

class ManualTimer final : public Timer {
 public:
  explicit ManualTimer(ManualTimerClock& clock) : Timer(clock), m_owner(clock) { m_owner.m_timers.push_back(this); }
  ~ManualTimer() override { std::erase(m_owner.m_timers, this); }
  Q_DISABLE_COPY_MOVE(ManualTimer)
  using Timer::fire;

 private:
  void arm(qint64) override {}
  void disarm() override {}
  ManualTimerClock& m_owner;
};

std::unique_ptr<Timer> ManualTimerClock::createTimer() { return std::unique_ptr<Timer>(new ManualTimer(*this)); }

void ManualTimerClock::advance(qint64 ms) {
  const qint64 target = m_now + std::max<qint64>(ms, 0);
  // A zero-delay timer that keeps re-arming itself would never let time move; the guard
  // turns such a fault into a stop instead of a hang.
  int firedAtSameTime = 0;
  for (;;) {
    ManualTimer* next = nullptr;
    for (Timer* t : m_timers) {
      if (t->isActive() && t->dueMs() <= target && (!next || t->dueMs() < next->dueMs()))
        next = static_cast<ManualTimer*>(t);
    }
    if (!next) break;
    if (next->dueMs() > m_now) {
      m_now = next->dueMs();
      firedAtSameTime = 0;
    } else if (++firedAtSameTime > 10000) {
      break;
    }
    next->fire();
  }
  m_now = target;
}

}  // namespace agent
