#!/usr/bin/python3
"""Our tables read in Debian's dbfread as `xbase dump` shows them; a FoxPro table python3-dbf wrote
reads, checks and packs in the engine as dbfread expects.  usage: roundtrip.py BUILD_DIR"""
import datetime
import json
import os
import subprocess
import sys
import tempfile

import dbf
import dbfread

build = sys.argv[1]
xbase = os.path.join(build, "libs", "xbase", "xbase")
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def dump(path):
    out = subprocess.run([xbase, "dump", path], check=True, capture_output=True).stdout.decode("ascii")
    rows = [json.loads(line) for line in out.splitlines()]
    t = dbfread.DBF(path, encoding="cp1252")
    chars = [f.name for f in t.fields if f.type == "C"]  # dbfread trims text: so does the comparison
    return [dict(r, **{name: r[name].rstrip(" \0") for name in chars}) for r in rows]


def normal(value):
    """Python values as `xbase dump` shows them: dates as yyyymmdd, whole floats as ints."""
    if isinstance(value, datetime.date):
        return value.strftime("%Y%m%d")
    return int(value) if isinstance(value, float) and value == int(value) else value


def via_dbfread(path, encoding="cp1252"):
    t = dbfread.DBF(path, encoding=encoding, char_decode_errors="strict")
    live, gone = [dict(r) for r in t.records], [dict(r) for r in t.deleted]
    memos = {f.name for f in t.fields if f.type == "M"}
    with open(path, "rb") as f:  # record order from the deletion flags in the file itself
        head = f.read(32)
        count, hlen, rlen = (int.from_bytes(head[a:b], "little") for a, b in ((4, 8), (8, 10), (10, 12)))
        f.seek(hlen)
        flags = [f.read(rlen)[:1] for _ in range(count)]
    rows = []
    for i, flag in enumerate(flags):
        rec = gone.pop(0) if flag == b"*" else live.pop(0)
        row = {"recno": i + 1, "deleted": flag == b"*"}
        row.update({k: normal("" if v is None and k in memos else v) for k, v in rec.items()})
        rows.append(row)
    return rows


with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "MIXED.DBF")
    subprocess.run([os.path.join(build, "tests", "libs", "xbase", "xbase_make_mixed"), path], check=True)
    ours = dump(path)
    check([r["deleted"] for r in ours] == [False, False, False, True, False, False, True], "deleted flags in dump")
    check(ours[5]["NAME"] == 'quote " \\ \u201ccurly\u201d \u20ac', "Windows-1252 text: %r" % ours[5]["NAME"])
    check(ours[0]["NOTES"] == "Bring the card. And the letter.", "rewritten memo")
    check(via_dbfread(path) == ours, "dbfread reads the engine's table:\n%s\n%s" % (via_dbfread(path), ours))

    # Converted to UTF-8: the same text for us, for dbfread told the .cpg's encoding and for
    # python3-dbf, which reads the header's mark.
    subprocess.run([xbase, "utf8", path], check=True, capture_output=True)
    with open(os.path.join(tmp, "MIXED.CPG")) as f:
        declared = f.read().strip()
    def records(rows):
        return [{k: v for k, v in r.items() if k != "recno"} for r in rows]
    check(declared == "UTF-8" and records(dump(path)) == records(r for r in ours if not r["deleted"])
          and dump(path) == via_dbfread(path, declared), "the table converted to UTF-8")
    converted = dbf.Table(path)
    converted.open(dbf.READ_ONLY)
    check([r.name.rstrip() for r in converted] == [r["NAME"] for r in dump(path)], "python3-dbf reads it as UTF-8")
    converted.close()

    path = os.path.join(tmp, "PYTABLE.DBF")
    pt = dbf.Table(path, "name C(20); qty N(6,0); price N(8,2); day D; ok L; memo M", dbf_type="fp", codepage="cp1252")
    pt.open(dbf.READ_WRITE)
    pt.append(("Alpha", 1, 2.5, datetime.date(2026, 12, 6), True, "first memo"))
    pt.append(("B\u00e9ta", -20, 0, datetime.date(1999, 1, 31), False, "x" * 2000))
    pt.append(("Gamma", 3, 3.25, None, None, ""))
    pt.append(("Delta", 4, 4, datetime.date(2000, 2, 29), True, "line1\r\nline2"))
    dbf.delete(pt[2])
    pt.close()
    ours = dump(path)
    check(len(ours) == 4 and ours[2]["deleted"] and ours[1]["MEMO"] == "x" * 2000, "python's table in dump")
    check(ours == via_dbfread(path), "engine reads python's table as dbfread does:\n%s\n%s" % (ours, via_dbfread(path)))
    for command in ("check", "pack", "check"):
        out = subprocess.run([xbase, command, path], capture_output=True)
        check(out.returncode == 0, "xbase %s on python's table: %s %s" % (command, out.stdout, out.stderr))
    check([r["NAME"] for r in via_dbfread(path)] == ["Alpha", "B\u00e9ta", "Delta"], "dbfread after the pack")

if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("round trips ok")
