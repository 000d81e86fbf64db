#!/usr/bin/python3
"""Round trips between our engine and Debian's python3-dbf and python3-dbfread.

1. A table our engine wrote reads back identically in both Python libraries
   (every field, memos, deleted flags), compared with `xbase dump`.
2. A table python3-dbf wrote (FoxPro flavour, with memos and deleted records)
   reads identically through `xbase dump`, and a pack keeps its header.
3. Tables in other programs' shapes, written byte by byte (two fields of one
   name, no code page mark, DOS text, a 24-digit number) read as dbfread reads
   them field by field, and keep their code page mark through a pack.
usage: roundtrip.py BUILD_DIR
"""
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
make_mixed = os.path.join(build, "tests", "libs", "xbase", "xbase_make_mixed")
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def dump(path):
    out = subprocess.run([xbase, "dump", path], check=True, capture_output=True).stdout.decode("ascii")
    return [json.loads(line) for line in out.splitlines()]


def dump_pairs(path):
    """`xbase dump` as (name, value) pairs in field order: names need not be unique."""
    out = subprocess.run([xbase, "dump", path], check=True, capture_output=True).stdout.decode("ascii")
    return [json.loads(line, object_pairs_hook=list) for line in out.splitlines()]


def write_raw(path, version, mark, fields, records):
    """A table file byte by byte: fields as (name bytes, type, length, decimals)."""
    hlen = 32 + 32 * len(fields) + 1
    rlen = 1 + sum(f[2] for f in fields)
    head = bytearray(32)
    head[0] = version
    head[1:4] = bytes([126, 12, 7])
    head[4:8] = len(records).to_bytes(4, "little")
    head[8:10] = hlen.to_bytes(2, "little")
    head[10:12] = rlen.to_bytes(2, "little")
    head[29] = mark
    out = bytes(head)
    offset = 1
    for name, ftype, length, dec in fields:
        d = bytearray(32)
        d[0:len(name)] = name
        d[11] = ord(ftype)
        d[12:16] = offset.to_bytes(4, "little")
        d[16] = length
        d[17] = dec
        out += bytes(d)
        offset += length
    out += b"\r"
    for r in records:
        assert len(r) == rlen, (r, rlen)
        out += r
    out += b"\x1a"
    with open(path, "wb") as f:
        f.write(out)


def normal(value):
    """Python values in the shape of `xbase dump`: dates as yyyymmdd, blanks as None."""
    if isinstance(value, datetime.date):
        return value.strftime("%Y%m%d")
    if isinstance(value, float) and value == int(value):
        return int(value)
    if isinstance(value, str):
        return value
    return value


def via_dbfread(path):
    t = dbfread.DBF(path, encoding="cp1252", char_decode_errors="strict")
    live = [dict(r) for r in t.records]
    gone = [dict(r) for r in t.deleted]
    # Record numbers from the deletion flags in the file itself.
    with open(path, "rb") as f:
        head = f.read(32)
        count = int.from_bytes(head[4:8], "little")
        hlen = int.from_bytes(head[8:10], "little")
        rlen = int.from_bytes(head[10:12], "little")
        f.seek(hlen)
        flags = [f.read(rlen)[:1] for _ in range(count)]
    rows = []
    for i, flag in enumerate(flags):
        rec = gone.pop(0) if flag == b"*" else live.pop(0)
        row = {"recno": i + 1, "deleted": flag == b"*"}
        for name, value in rec.items():
            if value is None:
                value = "" if name in memo_fields(t) else None
            row[name] = normal(value)
        rows.append(row)
    return rows, t


def memo_fields(t):
    return {f.name for f in t.fields if f.type == "M"}


def char_fields(t):
    return {f.name: f.length for f in t.fields if f.type == "C"}


def via_dbf(path):
    t = dbf.Table(path, codepage="cp1252")
    t.open(dbf.READ_ONLY)
    rows = []
    for rec in t:
        row = {"recno": dbf.recno(rec) + 1, "deleted": dbf.is_deleted(rec)}
        for name in t.field_names:
            value = rec[name]
            if isinstance(value, str):
                value = value.rstrip(" ") if t.field_info(name).field_type != dbf.FieldType.MEMO else value
            if value is None or value is dbf.Null:
                value = None
            if isinstance(value, (dbf.Date,)):
                value = value._date if value else None
            if isinstance(value, dbf.Logical):
                value = None if value is dbf.Unknown else bool(value)
            row[name.upper()] = normal(value)
        rows.append(row)
    t.close()
    return rows


def ours_trimmed(rows, t):
    """dbfread trims character fields; compare with our dump trimmed the same way."""
    cf = char_fields(t)
    out = []
    for r in rows:
        r = dict(r)
        for name in cf:
            r[name] = r[name].rstrip(" \0")
        out.append(r)
    return out


with tempfile.TemporaryDirectory() as tmp:
    # 1. Engine -> Python
    path = os.path.join(tmp, "MIXED.DBF")
    subprocess.run([make_mixed, path], check=True)
    ours = dump(path)
    check(len(ours) == 7, "engine wrote 7 records, dump shows %d" % len(ours))
    check([r["deleted"] for r in ours] == [False, False, False, True, False, False, True], "deleted flags in dump")
    check(ours[2]["NAME"].startswith("Caf\u00e9 au lait \u00fc\u00df"), "Latin-1 text in dump")
    check(ours[0]["NOTES"] == "Bring the card. And the letter.", "rewritten memo")
    check(ours[5]["NAME"].startswith('quote " \\ \u201ccurly\u201d \u20ac'), "Windows-1252 text in dump: %r" % ours[5]["NAME"])
    check(ours[0]["COUNT"] == 600 and ours[2]["PRICE"] == -0.75, "numbers in dump")
    check(ours[1]["DAY"] is None and ours[1]["COUNT"] is None and ours[1]["OK"] is None, "blank values in dump")
    theirs, t = via_dbfread(path)
    check(theirs == ours_trimmed(ours, t), "dbfread reads the engine's table as the engine does:\n%s\n%s" % (theirs, ours_trimmed(ours, t)))
    theirs2 = via_dbf(path)
    check(theirs2 == ours_trimmed(ours, t), "python3-dbf reads the engine's table as the engine does:\n%s\n%s" % (theirs2, ours_trimmed(ours, t)))
    out = subprocess.run([xbase, "check", path], capture_output=True)
    check(out.returncode == 0, "xbase check on the engine's table: %s" % out.stdout)

    # 2. Python -> engine
    path2 = os.path.join(tmp, "PYTABLE.DBF")
    pt = dbf.Table(path2, "name C(20); qty N(6,0); price N(8,2); day D; ok L; memo M", dbf_type="fp", codepage="cp1252")
    pt.open(dbf.READ_WRITE)
    pt.append(("Alpha", 1, 2.5, datetime.date(2026, 12, 6), True, "first memo"))
    pt.append(("B\u00e9ta", -20, 0, datetime.date(1999, 1, 31), False, "x" * 2000))
    pt.append(("Gamma", 3, 3.25, None, None, ""))
    pt.append(("Delta", 4, 4, datetime.date(2000, 2, 29), True, "line1\r\nline2"))
    dbf.delete(pt[2])
    pt.close()
    ours = dump(path2)
    theirs, t = via_dbfread(path2)
    check(len(ours) == 4 and ours[2]["deleted"] and not ours[0]["deleted"], "engine sees python's deleted flags")
    check(ours[1]["MEMO"] == "x" * 2000, "engine reads python's long memo")
    check(ours_trimmed(ours, t) == theirs, "engine reads python's table as dbfread does:\n%s\n%s" % (ours_trimmed(ours, t), theirs))
    out = subprocess.run([xbase, "check", path2], capture_output=True)
    check(out.returncode == 0, "xbase check on python's table: %s" % out.stdout)

    hlen2 = int.from_bytes(open(path2, "rb").read(10)[8:10], "little")
    header2 = open(path2, "rb").read(hlen2)
    out = subprocess.run([xbase, "pack", path2], capture_output=True)
    check(out.returncode == 0, "xbase pack on python's table: %s" % out.stderr)
    check(open(path2, "rb").read(hlen2)[8:] == header2[8:], "pack keeps python's header past the count")
    theirs, t = via_dbfread(path2)
    check(len(theirs) == 3 and [r["NAME"] for r in theirs] == ["Alpha", "B\u00e9ta", "Delta"], "dbfread after the pack")

    # 3. Other programs' shapes
    path3 = os.path.join(tmp, "KUNDEN-PUNKTE.DBF")
    fields = [(b"Point_ID", "C", 8, 0), (b"Point_ID", "N", 5, 0), (b"NOTE", "C", 8, 0), (b"BIG", "N", 24, 0)]
    recs = []
    for i in range(14):
        flag = b"*" if i % 5 == 4 else b" "
        recs.append(flag + (b"5071%02d" % (21 + i)).ljust(8) + (b"%5d" % (401 + i)) +
                    b"M\x81ller".ljust(8) + (b"%24d" % (10**23 + i)))
    write_raw(path3, 0x03, 0x00, fields, recs)

    def pairs_by_dbfread(path):
        t = dbfread.DBF(path, encoding="latin-1", recfactory=list, char_decode_errors="strict")
        return [[(n, v.rstrip(" ") if isinstance(v, str) else v) for n, v in r] for r in t.records], t

    def live_pairs_ours(path):
        rows = []
        for r in dump_pairs(path):
            if dict(r[:2])["deleted"]:
                continue
            rows.append([(n, v.rstrip(" ") if isinstance(v, str) else v) for n, v in r[2:]])
        return rows

    theirs, t = pairs_by_dbfread(path3)
    ours = live_pairs_ours(path3)
    check(len(ours) == 12 and ours == [[(n.upper(), v) for n, v in r] for r in theirs],
          "engine reads two fields of one name and a 24-digit number as dbfread does:\n%s\n%s" % (ours[:2], theirs[:2]))
    check(ours[0][1] == ("POINT_ID", 401) and ours[0][3] == ("BIG", 10**23), "values by position: %s" % ours[:1])
    out = subprocess.run([xbase, "pack", path3], capture_output=True)
    check(out.returncode == 0, "xbase pack on a table with mark 0x00: %s" % out.stderr)
    check(open(path3, "rb").read(32)[29] == 0, "the pack keeps code page mark 0x00")
    t = dbfread.DBF(path3, encoding="cp437", char_decode_errors="strict")
    check(t.header.language_driver == 0 and [r["NOTE"] for r in t][:1] == ["M\u00fcller"],
          "DOS text still reads as DOS text after the pack")
    theirs_after, _ = pairs_by_dbfread(path3)
    check(theirs_after == theirs, "the pack kept every live record as dbfread reads it")

if failures:
    print("%d failure(s)" % len(failures))
    sys.exit(1)
print("round trips ok")
