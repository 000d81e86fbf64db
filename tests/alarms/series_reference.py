#!/usr/bin/python3
"""Reference occurrences of repeat rules, for the series model test (series_model_test.cpp).

Reads a JSON list of rules on stdin, writes a JSON list of answers on stdout. Each rule:
  {"zone": IANA id, "start": "yyyymmddThhmmss" (a wall time to start looking from),
   "rule": RRULE value without UNTIL, "until": UTC seconds or null, "exdates": how many to leave out,
   "seed": a number for the choice of those, "walls": how many wall times to follow at most}
Each answer:
  {"dtstart": the first occurrence at or after "start", as a wall time (the series' DTSTART, so that
   DTSTART and the rule agree, which RFC 5545 asks for), "exdates": wall times left out,
   "from": UTC seconds of "start", "moments": UTC seconds of the occurrences in order,
   "complete": true when the series ended before "walls" wall times, "skipped": why, or absent}

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
from datetime import datetime, timedelta
from zoneinfo import ZoneInfo

from dateutil import rrule


class TooLong(Exception):
    pass


def on_alarm(signum, frame):
    raise TooLong()


def offset(zone, t):
    return datetime.fromtimestamp(t, zone).utcoffset()


def moment(wall, zone):
    """UTC seconds of a wall time by the rules above."""
    a = int(wall.replace(tzinfo=zone, fold=0).timestamp())
    b = int(wall.replace(tzinfo=zone, fold=1).timestamp())
    runs = [t for t in (a, b) if datetime.fromtimestamp(t, zone).replace(tzinfo=None) == wall]
    if runs:
        return min(runs)
    # Skipped: the change lies between the two readings; find its second.
    lo, hi = min(a, b), max(a, b)
    after = offset(zone, hi)
    while hi - lo > 1:
        mid = (lo + hi) // 2
        if offset(zone, mid) == after:
            hi = mid
        else:
            lo = mid
    return hi


def wall_text(w):
    return w.strftime("%Y%m%dT%H%M%S")


DAYS = ["MO", "TU", "WE", "TH", "FR", "SA", "SU"]


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
    given = 0
    for w in rrule.rrulestr(";".join("%s=%s" % kv for kv in parts.items()), dtstart=week):
        if w < dtstart:
            continue
        if count and given >= count:
            return
        given += 1
        yield w


def answer(r):
    zone = ZoneInfo(r["zone"])
    start = datetime.strptime(r["start"], "%Y%m%dT%H%M%S")
    found = next(iter(rrule.rrulestr(r["rule"], dtstart=start)), None)
    # DTSTART is an occurrence of the rule (the first): found again from itself, it is the first.
    for _ in range(3):
        if found is None:
            return {"skipped": "no occurrence"}
        again = next(walls_from(r["rule"], found), None)
        if again == found:
            break
        found = again
    else:
        return {"skipped": "no start that is its own first occurrence"}
    rule = walls_from(r["rule"], found)
    until = r["until"]
    walls = []
    complete = True
    for w in rule:
        if len(walls) >= r["walls"]:
            complete = False
            break
        if until is not None and moment(w, zone) > until:
            break
        walls.append(w)
    pick = random.Random(r["seed"])
    exdates = pick.sample(walls[:50], min(r["exdates"], len(walls[:50])))
    excluded = {moment(w, zone) for w in exdates}
    moments = []
    for w in walls:
        m = moment(w, zone)
        if m in excluded or (moments and m <= moments[-1]):
            continue
        moments.append(m)
    return {"dtstart": wall_text(found), "exdates": [wall_text(w) for w in exdates],
            "from": moment(start, zone), "moments": moments, "complete": complete}


def main():
    signal.signal(signal.SIGALRM, on_alarm)
    out = []
    for r in json.load(sys.stdin):
        signal.setitimer(signal.ITIMER_REAL, 2.0)
        try:
            out.append(answer(r))
        except TooLong:
            out.append({"skipped": "dateutil took longer than 2 s"})
        except Exception as e:  # a rule dateutil cannot read is reported, not fatal
            out.append({"skipped": "%s: %s" % (type(e).__name__, e)})
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
    json.dump(out, sys.stdout)


if __name__ == "__main__":
    main()
