#!/usr/bin/python3
"""The keys of every calendar tag, as `xbase keys` prints them, equal keys
computed here from dbfread's reading of the records, before and after the
program's rebuild (pack and thirteen tags).
usage: keys_check.py SOURCE_DIR BUILD_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile

import dbfread

src, build = sys.argv[1], sys.argv[2]
xbase = os.path.join(build, "libs", "xbase", "xbase")
fill = os.path.join(build, "tests", "data", "calendar_fill")
rebuild = os.path.join(build, "src", "data", "chimewise-rebuild")
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def upper(s):
    return "".join(chr(ord(c) - 32) if "a" <= c <= "z" else c for c in s)


def dtos(d):
    return d.strftime("%Y%m%d") if d else " " * 8


def str4(n):
    text = "%4.0f" % (n or 0)
    return "****" if len(text) > 4 else text


def records(path):
    """[(recno, deleted, fields with character fields padded to width)]"""
    t = dbfread.DBF(path, encoding="latin-1")
    widths = {f.name: f.length for f in t.fields if f.type == "C"}
    live, gone = list(t.records), list(t.deleted)
    with open(path, "rb") as f:
        head = f.read(32)
        count = int.from_bytes(head[4:8], "little")
        hlen = int.from_bytes(head[8:10], "little")
        rlen = int.from_bytes(head[10:12], "little")
        f.seek(hlen)
        flags = [f.read(rlen)[:1] for _ in range(count)]
    out = []
    for i, flag in enumerate(flags):
        rec = dict(gone.pop(0) if flag == b"*" else live.pop(0))
        for name, width in widths.items():
            rec[name] = (rec[name] or "").ljust(width)
        out.append((i + 1, flag == b"*", rec))
    return out


# name -> (key function, FOR function); written from the tag list, not from the engine.
TAGS = {
    "UNIQUEID": (lambda r: r["UNIQUEID"] + dtos(r["EVENTDATE"]) + str4(r["STARTTIME"]), lambda r, d: not d and r["STATUS"] != "H"),
    "EVNTDATE": (lambda r: dtos(r["EVENTDATE"]) + str4(r["STARTTIME"]), lambda r, d: not d),
    "STRTDATE": (lambda r: dtos(r["STARTDATE"])[4:] + str4(r["STARTTIME"]), lambda r, d: not d),
    "STATUS": (lambda r: r["STATUS"] + dtos(r["EVENTDATE"]), lambda r, d: not d),
    "ALARM": (lambda r: dtos(r["ALARMDATE"]) + str4(r["ALARMTIME"]), lambda r, d: not d and r["ALARMDATE"] is not None),
    "CALENDAR": (lambda r: r["USERID"] + dtos(r["STARTDATE"])[4:] + str4(r["STARTTIME"]), lambda r, d: not d),
    "OWNER": (lambda r: r["USERID"] + r["UNIQUEID"] + dtos(r["EVENTDATE"]) + str4(r["STARTTIME"]), lambda r, d: not d and r["STATUS"] != "H"),
    "EVENTORD": (lambda r: upper(r["EVENT"]) + dtos(r["EVENTDATE"]) + str4(r["STARTTIME"]), lambda r, d: not d and r["STATUS"] != "H"),
    "EVNTTIME": (lambda r: r["STARTTIME"] or 0, lambda r, d: not d),
    "ACTIVITY": (lambda r: upper(r["APPT_TEXT"] + dtos(r["EVENTDATE"]) + str4(r["STARTTIME"])), lambda r, d: not d),
    "PUBLIC": (lambda r: bool(r["PUBLIC"]), lambda r, d: not d and r["PUBLIC"] is True and r["STATUS"] != "H"),
    "UPDATED": (lambda r: dtos(r["LASTEDIT"]) + str4(r["EDITTIME"]), lambda r, d: not d),
    "RECORDID": (lambda r: r["REC_NO"], lambda r, d: not d),
}


def shown(key):
    if isinstance(key, bool):
        return ".T." if key else ".F."
    if isinstance(key, (int, float)):
        return "%.10g" % key
    return key


def expected(recs, tag):
    key, cond = TAGS[tag]
    rows = sorted((key(r), n) for n, d, r in recs if cond(r, d))
    return [(n, shown(k)) for k, n in rows]


def printed(table, tag):
    out = subprocess.run([xbase, "keys", table, tag], check=True, capture_output=True).stdout.decode("latin-1")
    rows = []
    for line in out.splitlines():
        n, k = line.split("\t", 1)
        rows.append((int(n), k))
    return rows


def compare_all(table, label):
    recs = records(table)
    for tag in TAGS:
        want, got = expected(recs, tag), printed(table, tag)
        check(want == got, "%s: tag %s differs (%d expected, %d printed); first difference: %s" % (
            label, tag, len(want), len(got), next(((w, g) for w, g in zip(want, got) if w != g), None)))
    out = subprocess.run([xbase, "check", table], capture_output=True)
    check(out.returncode == 0, "%s: xbase check: %s %s" % (label, out.stdout, out.stderr))
    return recs


with tempfile.TemporaryDirectory() as app:
    os.mkdir(os.path.join(app, "data"))
    for name in ("CALENDAR.DBF", "CALENDAR.FPT", "CALENDAR.CDX"):
        shutil.copy(os.path.join(src, "assets", "data", name), os.path.join(app, "data", name))
    table = os.path.join(app, "data", "CALENDAR.DBF")
    subprocess.run([fill, app, "400", "7"], check=True)
    recs = compare_all(table, "after saves")

    # The documented example, and a sample that holds what the tag conditions leave out.
    alarm = dict(printed(table, "ALARM"))
    check(alarm.get(1) == "20261206 600", "10:00 on 6 Dec 2026 renders as '20261206 600', got %r" % alarm.get(1))
    gone = [n for n, d, r in recs if d]
    held = [n for n, d, r in recs if not d and r["STATUS"] == "H"]
    blank = [n for n, d, r in recs if not d and r["ALARMDATE"] is None]
    check(min(len(gone), len(held), len(blank)) > 10, "the sample holds deleted, STATUS H and blank ALARMDATE records")

    # The program's rebuild: deleted records go for good, the tags come back exactly.
    live = len(recs) - len(gone)
    os.remove(os.path.join(app, "data", "CALENDAR.CDX"))
    subprocess.run([rebuild, app], check=True)
    recs = compare_all(table, "after rebuild")
    check(len(recs) == live and not any(d for _, d, _ in recs), "rebuild kept %d live records, has %d" % (live, len(recs)))
    tags = subprocess.run([xbase, "tags", table], check=True, capture_output=True).stdout.decode().split("\n")
    check([t.split("\t")[0] for t in tags if t] == list(TAGS), "tag order after rebuild")

if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("keys ok")
