#!/usr/bin/env python3
"""Two appenders, a packer and a reader on one table at once, until the appenders are done.

Every record an appender was told was appended (and not deleted) must be in the
table exactly once afterwards, with its memo, as Debian's dbfread reads the
files; `xbase check` must find table, memo and index in agreement.
  stress_test.py BUILD_DIR [COUNT]   (records each appender appends)
"""
import collections
import os
import subprocess
import sys
import tempfile

from dbfread import DBF


def main():
    build = sys.argv[1]
    count = sys.argv[2] if len(sys.argv) > 2 else "400"
    helper = os.path.join(build, "tests/libs/xbase/xbase_stress")
    tool = os.path.join(build, "libs/xbase/xbase")
    with tempfile.TemporaryDirectory() as tmp:
        table = os.path.join(tmp, "S.DBF")
        subprocess.run([helper, "init", table], check=True)
        logs = [os.path.join(tmp, "a%d.log" % i) for i in range(2)]
        stop = os.path.join(tmp, "stop")
        procs = [subprocess.Popen([helper, "append", table, "a%d" % i, count, logs[i]]) for i in range(2)]
        packer = subprocess.Popen([helper, "pack", table, stop], stdout=subprocess.PIPE, text=True)
        reader = subprocess.Popen([helper, "read", table, stop], stdout=subprocess.DEVNULL)
        failed = [" ".join(p.args[1:4]) for p in procs if p.wait() != 0]
        open(stop, "w").close()  # the packer and the reader make a last run and end
        packs = packer.communicate()[0].strip()
        failed += [name for name, p in (("packer", packer), ("reader", reader)) if p.wait() != 0]
        if failed:
            print("FAIL: worker(s) reported an error:", ", ".join(failed))
            return 1

        appended, deleted = [], set()
        for log in logs:
            with open(log) as f:
                for line in f:
                    kind, name = line.split()
                    (appended.append(name) if kind == "A" else deleted.add(name))
        expected = set(appended) - deleted

        live = collections.Counter()
        memos = {}
        for rec in DBF(table, encoding="cp1252"):  # deleted records are skipped
            live[rec["NAME"]] += 1
            memos[rec["NAME"]] = rec["NOTE"]
        problems = []
        for name in sorted(expected):
            if live[name] != 1:
                problems.append("%s acknowledged, found %d times" % (name, live[name]))
            elif memos[name] != "memo of " + name:
                problems.append("%s has memo %r" % (name, memos[name]))
        for name in sorted(set(live) - expected):
            problems.append("%s is live but was %s" % (name, "deleted" if name in deleted else "never acknowledged"))
        check = subprocess.run([tool, "check", table], capture_output=True, text=True)
        if check.returncode != 0:
            problems.append("xbase check: " + check.stdout + check.stderr)
        print("%d appended, %d deleted, %d live, %s" % (len(appended), len(deleted), sum(live.values()), packs))
        if problems:
            print("FAIL:\n  " + "\n  ".join(problems[:30]))
            return 1
        if len(appended) != 2 * int(count):
            print("FAIL: %d appends acknowledged, %d made" % (len(appended), 2 * int(count)))
            return 1
    print("stress ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
