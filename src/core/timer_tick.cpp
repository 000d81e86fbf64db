#include "core/timer_tick.h"

namespace chimewise {

int ClockValue(const QTime& time) { return time.hour() * 100 + time.minute(); }

TickDecision DecideTick(const TickInputs& in, const QDateTime& now) {
  TickDecision d;
  if (in.nextAnnounceTime.isValid() && in.nextAnnounceTime < now) {
    if (!in.timeRangeOn) {
      d.announce = true;
    } else {
      const int s = ClockValue(in.rangeStart);
      const int e = ClockValue(in.rangeEnd);
      const int n = ClockValue(in.nextAnnounceTime.time());
      if (s <= n && n <= e)
        d.announce = true;
      else
        d.rescheduleAnnouncement = true;
    }
  }
  d.scanAlarms = in.nextAlarmTime.isValid() && in.nextAlarmTime < now;
  d.checkMail = !in.mailCheckRunning && in.nextMailCheck.isValid() && in.nextMailCheck < now;
  return d;
}

}  // namespace chimewise
