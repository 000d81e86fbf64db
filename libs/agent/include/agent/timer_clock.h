#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QtGlobal>

#include <memory>
#include <vector>

namespace agent {

class TimerClock;

// A single-shot timer created by a TimerClock. Everything in the character platform that waits
// (animation frames, glides, speech position polling, idle scheduling) waits on one of
// these, so tests can drive time by hand and measurements can count what is running.
class Timer : public QObject {
  Q_OBJECT
 public:
  ~Timer() override;
  Q_DISABLE_COPY_MOVE(Timer)

  // Fires timeout() once, `ms` milliseconds from now (0 = as soon as possible).
  // Starting an active timer re-arms it.
  void start(qint64 ms);
  void stop();
  bool isActive() const { return m_active; }
  qint64 dueMs() const { return m_due; }

 signals:
  void timeout();

 protected:
  explicit Timer(TimerClock& clock);
  void fire();

 private:
  virtual void arm(qint64 ms) = 0;
  virtual void disarm() = 0;

  TimerClock& m_clock;
  bool m_active = false;
  qint64 m_due = 0;
};

// Monotonic time plus a source of timers.
class TimerClock {
 public:
  virtual ~TimerClock();
  virtual qint64 nowMs() const = 0;
  virtual std::unique_ptr<Timer> createTimer() = 0;
  // Timers of this clock currently armed. A hidden, quiet character has none.
  int activeTimers() const { return m_active; }

 protected:
  TimerClock() = default;

 private:
  friend class Timer;
  int m_active = 0;
};

// Real time: QElapsedTimer for the time, QTimer for the timers.
class SystemTimerClock final : public TimerClock {
 public:
  SystemTimerClock();
  qint64 nowMs() const override { return m_elapsed.elapsed(); }
  std::unique_ptr<Timer> createTimer() override;

 private:
  QElapsedTimer m_elapsed;
};

// Time that moves only when advance() is called; timers due on the way fire in order.
class ManualTimerClock final : public TimerClock {
 public:
  qint64 nowMs() const override { return m_now; }
  std::unique_ptr<Timer> createTimer() override;
  // Moves time forward by `ms`, firing every timer that falls due, each at its own time.
  void advance(qint64 ms);

 private:
  friend class ManualTimer;
  qint64 m_now = 0;
  std::vector<Timer*> m_timers;
};

}  // namespace agent
