#!/usr/bin/env python3
"""Two appenders, a packer and a reader on one table at once, until the appenders are done.

Every record an appender was told was appended (and not deleted) must be in the table exactly once
afterwards, with its memo, as Debian's dbfread reads the files; `xbase check` must find table, memo
and index in agreement.
  stress_test.py BUILD_DIR [COUNT]   (records each appender appends)
"""
import collections
import os
import subprocess
import sys
import tempfile

from dbfread import DBF

build, count = sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else "400"
helper = os.path.join(build, "tests/libs/xbase/xbase_stress")
with tempfile.TemporaryDirectory() as tmp:
    table, stop = os.path.join(tmp, "S.DBF"), os.path.join(tmp, "stop")
    subprocess.run([helper, "init", table], check=True)
    logs = [os.path.join(tmp, "a%d.log" % i) for i in range(2)]
    procs = [subprocess.Popen([helper, "append", table, "a%d" % i, count, logs[i]]) for i in range(2)]
    others = [subprocess.Popen([helper, what, table, stop]) for what in ("pack", "read")]
    failed = [p.args[1] for p in procs if p.wait() != 0]
    open(stop, "w").close()  # the packer and the reader make a last run and end
    failed += [p.args[1] for p in others if p.wait() != 0]
    if failed:
        sys.exit("FAIL: worker(s) reported an error: " + ", ".join(failed))

    appended, deleted = [], set()
    for log in logs:
        for kind, name in (line.split() for line in open(log)):
            (appended.append(name) if kind == "A" else deleted.add(name))
    expected = set(appended) - deleted
    live, memos = collections.Counter(), {}
    for rec in DBF(table, encoding="cp1252"):  # deleted records are skipped
        live[rec["NAME"]] += 1
        memos[rec["NAME"]] = rec["NOTE"]
    problems = ["%s acknowledged, found %d times" % (n, live[n]) for n in sorted(expected) if live[n] != 1]
    problems += ["%s has memo %r" % (n, memos[n]) for n in sorted(expected) if live[n] == 1 and memos[n] != "memo of " + n]
    problems += ["%s is live but was not acknowledged or was deleted" % n for n in sorted(set(live) - expected)]
    check = subprocess.run([os.path.join(build, "libs/xbase/xbase"), "check", table], capture_output=True, text=True)
    if check.returncode != 0:
        problems.append("xbase check: " + check.stdout + check.stderr)
    if len(appended) != 2 * int(count):
        problems.append("%d appends acknowledged, %d made" % (len(appended), 2 * int(count)))
    if problems:
        sys.exit("FAIL:\n  " + "\n  ".join(problems[:30]))
print("stress ok: %d appended, %d deleted" % (len(appended), len(deleted)))
