#pragma once
// The decisions of one tick of the main timer, as a plain function of the shared state and now.

#include <QDateTime>
#include <QTime>

namespace chimewise {

// A time of day written as "hmm" and read as a number: 7:05 gives 705, 21:00 gives 2100, 0:30
// gives 30.
int ClockValue(const QTime& time);

struct TickInputs {
  QDateTime nextAnnounceTime;  // invalid = none scheduled
  bool timeRangeOn = true;
  QTime rangeStart;
  QTime rangeEnd;
  QDateTime nextAlarmTime;  // invalid = no pending alarm
  QDateTime nextMailCheck;  // invalid = automatic mail checks are off
  bool mailCheckRunning = false;
};

struct TickDecision {
  // Speak the time now. Always decided before the alarm scan, and run before it.
  bool announce = false;
  // The scheduled announcement has passed outside the daily range: compute the next one, so the
  // clock speaks again once the range opens.
  bool rescheduleAnnouncement = false;
  bool scanAlarms = false;
  // Start an automatic mail check (quiet when there is nothing new, automatic rules). Decided
  // last and run after the rest; never while a check is still running.
  bool checkMail = false;
};

// The range test uses the scheduled time of the announcement, not now; both bounds are inclusive,
// so a range whose start lies after its end admits nothing.
TickDecision DecideTick(const TickInputs& in, const QDateTime& now);

}  // namespace chimewise
