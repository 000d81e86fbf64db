#!/usr/bin/python3
"""Random repeat rules and their occurrences by python3-dateutil, for series_model_test.cpp.

Run as: series_reference.py COUNT SEED. Draws COUNT rules (every FREQ from MINUTELY to YEARLY, with
INTERVAL, BYDAY plain and numbered, BYMONTHDAY, BYMONTH, BYSETPOS, BYHOUR, BYMINUTE, WKST, COUNT,
UNTIL and EXDATE) starting in Europe/Berlin, America/New_York or Australia/Lord_Howe, half of them
shortly before a change of the clocks, and prints a JSON list, one answer a rule:
  {"series": the lines a kept series holds (DTSTART;TZID=, RRULE:, EXDATE;TZID=, X-CHIMEWISE-LEAD:),
   "from": UTC seconds to look from, "moments": UTC seconds of the occurrences in order,
   "complete": true when the series ended before 150 wall times, "lead": seconds,
   "period": seconds of one step of the rule (roughly)}
or {"skipped": why, "rule": the rule} for a rule drawn with no occurrence at all. Left out on
purpose: minutely and hourly rules limited to days of the month or year (the program refuses them:
their next occurrence can lie millions of steps away).

DTSTART is the rule's first occurrence, so that the two agree as RFC 5545 asks.

dateutil's rrule works on wall times and knows nothing of the clocks changing. The program's rules
for wall times are applied here, each wall time to a moment:
  - a wall time the clocks show once is that moment;
  - a wall time they show twice (the hour the clocks go back) is its first run, so a rule stepping
    by the wall clock never gives the repeated hour twice;
  - a wall time they skip (the clocks go forward) is the first moment after the gap, the moment of
    the change; several wall times in one gap are then one moment, which happens once.
UNTIL is a UTC moment: a wall time is in the series when its moment is not after it. An EXDATE
names a moment: every wall time at that moment is left out.
"""
import json
import random
import signal
import sys
from itertools import islice
from datetime import datetime, timedelta, timezone
from zoneinfo import ZoneInfo

from dateutil import rrule


class TooLong(Exception):
    pass


DAYS = ["MO", "TU", "WE", "TH", "FR", "SA", "SU"]


def offset(zone, t):
    return datetime.fromtimestamp(t, zone).utcoffset()


def change_between(zone, lo, hi):
    """The first second from which the zone's offset is the one at hi."""
    while hi - lo > 1:
        mid = (lo + hi) // 2
        lo, hi = (lo, mid) if offset(zone, mid) == offset(zone, hi) else (mid, hi)
    return hi


def moment(wall, zone):
    """UTC seconds of a wall time by the rules above."""
    a = int(wall.replace(tzinfo=zone, fold=0).timestamp())
    b = int(wall.replace(tzinfo=zone, fold=1).timestamp())
    runs = [t for t in (a, b) if datetime.fromtimestamp(t, zone).replace(tzinfo=None) == wall]
    return min(runs) if runs else change_between(zone, min(a, b), max(a, b))


ZONES = ["Europe/Berlin", "America/New_York", "Australia/Lord_Howe"]
FREQS = ["MINUTELY", "HOURLY", "DAILY", "WEEKLY", "MONTHLY", "YEARLY"]
UNIT = [60, 3600, 86400, 7 * 86400, 30 * 86400, 365 * 86400]
INTERVALS = [[5, 7, 15, 30, 45, 90], [2, 3, 5, 25], [2, 3, 10], [2, 3], [2, 5], [2]]
BEFORE = [150 * 60, 2 * 86400, 7 * 86400, 60 * 86400, 365 * 86400, 3 * 365 * 86400]


def changes(zone):
    """UTC seconds of each change of the zone's clocks in 2020-2030."""
    first = int(datetime(2020, 1, 1, tzinfo=timezone.utc).timestamp())
    return [change_between(zone, t, t + 86400) for t in range(first, first + 11 * 366 * 86400, 86400)
            if offset(zone, t) != offset(zone, t + 86400)]


def draw(g, clocks):
    zone = g.choice(ZONES)
    f = g.randrange(6)
    step = 1 if g.random() < .5 else g.choice(INTERVALS[f])
    if g.random() < .5:
        t = g.choice(clocks[zone]) - g.randint(0, BEFORE[f])
    else:
        t = int(datetime(2020, 1, 1, tzinfo=timezone.utc).timestamp()) + g.randrange(11 * 365 * 1440) * 60
    within = f < 2

    def pick(n, lo, hi, signed=False):
        return [v * (g.choice((1, -1)) if signed else 1) for v in g.sample(range(lo, hi + 1), n)]

    def join(values):
        return ",".join(map(str, values))

    parts = ["FREQ=" + FREQS[f]] + (["INTERVAL=%d" % step] if step > 1 else [])
    per = 1  # how many a period gives at least, for BYSETPOS
    by_month = numbered = False
    if not within and g.random() < (.5 if f == 5 else .15):
        parts.append("BYMONTH=" + join(pick(g.randint(1, 3), 1, 12)))
        by_month = True
    if f >= 4 and g.random() < .3:
        days = {"%d%s" % (((5 if g.random() < .1 else g.randint(1, 4)) if f == 4 or by_month else g.randint(1, 52))
                          * g.choice((1, -1)), g.choice(DAYS)) for _ in range(g.randint(1, 2))}
        parts.append("BYDAY=" + ",".join(sorted(days)))
        numbered = True
    elif g.random() < .3:
        n = g.randint(1, 5)
        parts.append("BYDAY=" + ",".join(g.sample(DAYS, n)))
        per = {3: n, 4: 4 * n, 5: 4 * n if by_month else 52 * n}.get(f, 1)
    if not numbered and g.random() < {2: .15, 4: .35, 5: .25}.get(f, 0):
        late = not by_month and f != 5 and g.random() < .1
        parts.append("BYMONTHDAY=" + join(pick(g.randint(1, 2), 29, 31, True) if late
                                          else pick(g.randint(1, 3), 1, 28, True)))
    if g.random() < (.4 if within else .25):
        if f == 0 or (f == 1 and g.random() < .5):
            first = g.randrange(20)
            hours = list(range(first, min(24, first + g.randint(1, 6))))
        else:
            hours = pick(g.randint(1, 3), 0, 23)
            if g.random() < .4:
                hours[0] = g.randint(1, 2)  # the hours the clocks skip or repeat
            hours = list(dict.fromkeys(hours))
            per = per if within else max(per, len(hours))
        parts.append("BYHOUR=" + join(hours))
    if g.random() < ((.2 if step == 1 else 0) if f == 0 else .25):
        minutes = pick(g.randint(1, 2 if f == 1 else 3), 0, 59)
        parts.append("BYMINUTE=" + join(minutes))
        per = per if within else max(per, len(minutes))
    if not within and per >= 2 and g.random() < .3:
        parts.append("BYSETPOS=" + join(pick(g.randint(1, 2), 1, min(per, 3), True)))
    if g.random() < .15:
        parts.append("WKST=" + g.choice(DAYS))
    end, until = g.randrange(100), None
    if end < 25:
        parts.append("COUNT=%d" % g.randint(1, 80))
    elif end < 45:
        until = t + g.randint(0, 60) * UNIT[f] * step
    start = datetime.fromtimestamp(t, ZoneInfo(zone)).replace(tzinfo=None, second=0)
    return {"zone": zone, "start": start, "rule": ";".join(parts), "until": until,
            "exdates": g.randint(1, 3) if g.random() < .3 else 0, "lead": 0 if g.random() < .5 else 60 * g.randint(1, 120),
            "period": UNIT[f] * step}

def wall_text(w):
    return w.strftime("%Y%m%dT%H%M%S")


def walls_from(text, dtstart):
    """The rule's wall times from dtstart. dateutil's first period of a weekly rule starts at
    DTSTART's day rather than at the week's first day, so BYSETPOS would count in a part of that
    week: such a rule starts at its week's first day instead, with what DTSTART gave it (weekday,
    time) written out, and what comes before DTSTART (and past COUNT) is dropped here."""
    parts = dict(p.split("=", 1) for p in text.split(";"))
    if parts["FREQ"] != "WEEKLY" or "BYSETPOS" not in parts:
        yield from rrule.rrulestr(text, dtstart=dtstart)
        return
    count = int(parts.pop("COUNT", "0"))
    parts.setdefault("BYDAY", DAYS[dtstart.weekday()])
    parts.setdefault("BYHOUR", str(dtstart.hour))
    parts.setdefault("BYMINUTE", str(dtstart.minute))
    parts.setdefault("BYSECOND", str(dtstart.second))
    back = (dtstart.weekday() - DAYS.index(parts.get("WKST", "MO"))) % 7
    week = (dtstart - timedelta(days=back)).replace(hour=0, minute=0, second=0)
    walls = rrule.rrulestr(";".join("%s=%s" % kv for kv in parts.items()), dtstart=week)
    yield from islice((w for w in walls if w >= dtstart), count or None)


def answer(r, g):
    zone = ZoneInfo(r["zone"])
    start = r["start"]
    found = next(iter(rrule.rrulestr(r["rule"], dtstart=start)), None)
    # DTSTART is an occurrence of the rule (the first): found again from itself, it is the first.
    for _ in range(3):
        if found is None:
            return {"skipped": "no occurrence", "rule": r["rule"]}
        again = next(walls_from(r["rule"], found), None)
        if again == found:
            break
        found = again
    else:
        return {"skipped": "no start that is its own first occurrence", "rule": r["rule"]}
    until = r["until"]
    walls = []
    complete = True
    for w in walls_from(r["rule"], found):
        if len(walls) >= 150:
            complete = False
            break
        if until is not None and moment(w, zone) > until:
            break
        walls.append(w)
    exdates = g.sample(walls[:50], min(r["exdates"], len(walls[:50])))
    excluded = {moment(w, zone) for w in exdates}
    moments = []
    for w in walls:
        m = moment(w, zone)
        if m not in excluded and (not moments or m > moments[-1]):
            moments.append(m)
    rule = r["rule"]
    if until is not None:
        rule += ";UNTIL=" + datetime.fromtimestamp(until, timezone.utc).strftime("%Y%m%dT%H%M%SZ")
    series = (["DTSTART;TZID=%s:%s" % (r["zone"], wall_text(found)), "RRULE:" + rule] +
              ["EXDATE;TZID=%s:%s" % (r["zone"], wall_text(w)) for w in exdates] +
              ["X-CHIMEWISE-LEAD:%d" % r["lead"]])
    return {"series": series, "from": moment(start, zone), "moments": moments, "complete": complete,
            "lead": r["lead"], "period": r["period"]}


def main():
    g = random.Random(int(sys.argv[2]))
    clocks = {zone: changes(ZoneInfo(zone)) for zone in ZONES}
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(TooLong()))
    out = []
    for _ in range(int(sys.argv[1])):
        r = draw(g, clocks)
        signal.setitimer(signal.ITIMER_REAL, 2.0)
        try:
            out.append(answer(r, g))
        except TooLong:
            out.append({"skipped": "dateutil took longer than 2 s", "rule": r["rule"]})
        except Exception as e:  # a rule dateutil cannot read is reported, not fatal
            out.append({"skipped": "%s: %s" % (type(e).__name__, e), "rule": r["rule"]})
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
