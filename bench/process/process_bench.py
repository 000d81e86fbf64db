#!/usr/bin/env python3
"""Whole-process measures of the programs as a user starts them, beside the least a program of
their kind costs on the same machine in the same run:

  start   chimewise-cli (--help, add, list, next), whole process from exec to exit, median and
          slowest of RUNS; against /bin/true and a bare QtCore program (bare_qt_core).
  memory  the program resident while idle and hidden in the tray (its second start, so no
          introduction runs), VmRSS and Pss after SETTLE seconds; against a bare Qt tray program
          (bare_qt_tray).

  bench/process/process_bench.py [--runs N] [--settle S] BUILD_DIR [BUILD_DIR...]

Each BUILD_DIR is a build of this repository (src/cli/chimewise-cli, src/shell/chimewise); the
bare programs come from the first one that has them. The memory part needs Xvfb and trayer
unless DISPLAY names a desktop with a tray already. Not a test: run it by hand.
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time


QUIET = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0), (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]


def build_name(build):
    return os.path.normpath(build)


def run_once(argv, env):
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, env, file_actions=QUIET)
    _, status = os.waitpid(pid, 0)
    if os.waitstatus_to_exitcode(status) not in (0, 1):
        raise SystemExit(f"{' '.join(argv)} failed with {status}")
    return (time.perf_counter_ns() - start) / 1e6


def private_home():
    home = tempfile.mkdtemp(prefix="chimewise-bench-")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "CHIMEWISE_"))}
    env.update(HOME=home, XDG_RUNTIME_DIR=home, LC_ALL="C.UTF-8")
    return home, env


def start_measures(builds, bare_core, runs):
    homes = []
    home, env = private_home()
    homes.append(home)
    rows = [("/bin/true", ["/bin/true"], env), ("bare QtCore program", [bare_core], env)]
    for build in builds:
        home, env = private_home()
        homes.append(home)
        cli = os.path.join(build, "src/cli/chimewise-cli")
        # The first command makes the data folder; the measured ones find it there.
        subprocess.run([cli, "list"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        tag = build_name(build)
        rows += [
            (f"{tag}: chimewise-cli --help", [cli, "--help"], env),
            (f"{tag}: chimewise-cli add", [cli, "--now", "2026-12-07 09:00:00", "add", "--text", "Call the dentist",
                                            "--activity", "2026-12-08 10:00"], env),
            (f"{tag}: chimewise-cli list", [cli, "list"], env),
            (f"{tag}: chimewise-cli next", [cli, "next"], env),
        ]
    # Round by round, every command once in each: a machine busier for a while slows them alike.
    times = [[] for _ in rows]
    for _ in range(runs):
        for i, (_, argv, env) in enumerate(rows):
            times[i].append(run_once(argv, env))
    print(f"Start, whole process, {runs} rounds (ms):")
    print(f"  {'':50} {'median':>8} {'slowest':>8}")
    for (name, _, _), t in zip(rows, times):
        print(f"  {name:50} {statistics.median(t):8.1f} {max(t):8.1f}")
    for home in homes:
        shutil.rmtree(home, ignore_errors=True)


def resident(pid):
    values = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(("VmRSS", "RssAnon", "RssFile")):
                key, value = line.split(":")
                values[key] = int(value.split()[0]) / 1024
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith("Pss:"):
                values["Pss"] = int(line.split()[1]) / 1024
    return values


def run_for(argv, env, seconds):
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    if process.poll() is not None:
        raise SystemExit(f"{argv[0]} ended early with {process.returncode}")
    values = resident(process.pid)
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(15)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    return values


def memory_measures(builds, bare_tray, settle):
    helpers = []
    env_display = dict(os.environ)
    if not os.environ.get("DISPLAY"):
        if not shutil.which("Xvfb") or not shutil.which("trayer"):
            print("Memory: skipped (no DISPLAY, and Xvfb or trayer is missing)")
            return
        r, w = os.pipe()
        helpers.append(subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x800x24", "-nolisten",
                                         "tcp"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        os.close(w)
        display = os.read(r, 16).decode().strip()
        os.close(r)
        env_display["DISPLAY"] = ":" + display
        helpers.append(subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                                         "--width", "200", "--heighttype", "pixel", "--height", "30"],
                                        env=env_display, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(1)
    try:
        print(f"Memory, idle and hidden in the tray, after {settle} s (MB):")
        print(f"  {'':50} {'VmRSS':>7} {'anon':>7} {'file':>7} {'Pss':>7}")
        rows = [("bare Qt tray program", [bare_tray], False)]
        for build in builds:
            tag = build_name(build)
            rows.append((f"{tag}: chimewise", [os.path.join(build, "src/shell/chimewise")], True))
        for name, argv, introduces in rows:
            home, env = private_home()
            env["DISPLAY"] = env_display["DISPLAY"]
            if introduces:
                run_for(argv, env, 20)  # the first start introduces the character; the second is the quiet one
            v = run_for(argv, env, settle)
            print(f"  {name:50} {v['VmRSS']:7.1f} {v['RssAnon']:7.1f} {v['RssFile']:7.1f} {v['Pss']:7.1f}")
            shutil.rmtree(home, ignore_errors=True)
    finally:
        for h in reversed(helpers):
            h.terminate()
            h.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--settle", type=int, default=15)
    parser.add_argument("--skip-memory", action="store_true")
    parser.add_argument("builds", nargs="+")
    args = parser.parse_args()
    bare = next((b for b in args.builds if os.path.exists(os.path.join(b, "bench/process/bare_qt_core"))), None)
    if not bare:
        sys.exit("none of the builds has bench/process/bare_qt_core (build with benchmarks)")
    start_measures(args.builds, os.path.join(bare, "bench/process/bare_qt_core"), args.runs)
    if not args.skip_memory:
        memory_measures(args.builds, os.path.join(bare, "bench/process/bare_qt_tray"), args.settle)


if __name__ == "__main__":
    main()
