#pragma once
// Where "now" comes from. Logic takes a Clock (or a moment) instead of reading the wall clock, so
// tests and the command-line tool can stand at any moment.

#include <QDateTime>
#include <QElapsedTimer>

namespace chimewise {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual QDateTime now() const = 0;
};

class SystemClock final : public Clock {
 public:
  QDateTime now() const override { return QDateTime::currentDateTime(); }
};

// A clock that stands still until moved.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(QDateTime start) : m_now(std::move(start)) {}
  QDateTime now() const override { return m_now; }
  void set(const QDateTime& when) { m_now = when; }
  void advanceSecs(qint64 secs) { m_now = m_now.addSecs(secs); }
  // Calendar days: the same wall time that many days on, whatever the clocks did between.
  void advanceDays(qint64 days) { m_now = m_now.addDays(days); }

 private:
  QDateTime m_now;
};

// A clock that starts at a chosen moment and then runs at the wall clock's pace (demonstrations and
// end-to-end tests: "it is 9:59:50 now, see what happens at 10:00").
class OffsetClock final : public Clock {
 public:
  explicit OffsetClock(QDateTime start) : m_start(std::move(start)) { m_elapsed.start(); }
  QDateTime now() const override { return m_start.addMSecs(m_elapsed.elapsed()); }

 private:
  QDateTime m_start;
  QElapsedTimer m_elapsed;
};

}  // namespace chimewise
