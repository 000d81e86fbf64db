#!/usr/bin/env bash
# A soak test of the real program as a user has it: Xvfb with a window manager (openbox) and a
# system tray (trayer), a PulseAudio null sink, the program started from a fresh home (so its
# first start introduces itself), and a seeded random "monkey" (xdotool) that opens and closes
# its windows and menus, presses keys in them, asks for jokes, the time, the clipboard and mail,
# while chimewise-cli adds reminders that fall due during the run. Every so often the program is
# ended, by Quit from the tray menu or by SIGTERM as logout does, and started again.
#
#   scripts/soak.sh [SECONDS] [SEED]        (defaults: 150 seconds, seed 1)
#
# During the run chimewise-cli also imports a hostile calendar file (deep nesting, a huge line, a
# zone rule without end, broken dates, thousands of events) and syncs with a CalDAV server that
# answers a byte at a time; "Update Me" meets an FTP server that trickles its greeting.
#
# It fails when the program ends other than with status 0 (a signal, an abort, a hang), when a
# reminder added is never announced, when one is first heard more than SOAK_MAX_LATE seconds
# (default 15) after its minute came with the program running (or after the program came back),
# (judged where the program then ran on for half a minute; a telling the end cut short moves
# nothing, so the next start tells it), when a late reminder is said again sooner than its repeat
# wait (WaitTime, five minutes, less SOAK_REPEAT_SLACK seconds, default 35: a repeat counts from
# when the line was heard to its end, rounded to the nearest minute), when the import or the sync
# crashes or does not end
# within 200 seconds, or when a reminder added is missing from the table at the end (read with
# dbfread). The judge is the program's transcript, which writes a line when it begins to be heard,
# and marks a line stopped before its end (that one counts for nothing). The
# binaries are taken from BUILD_DIR (default: build/). Results stay in $SOAK_OUT (default: a new
# temp dir); the figures of the run are the last lines of soak.log.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
seconds="${1:-150}"
seed="${2:-1}"
max_late="${SOAK_MAX_LATE:-15}"
repeat_slack="${SOAK_REPEAT_SLACK:-35}"
program="$build/src/shell/chimewise"
cli="$build/src/cli/chimewise-cli"
[ -x "$program" ] && [ -x "$cli" ] || { echo "build the program first ($program)" >&2; exit 2; }

if [ -z "${SOAK_INNER:-}" ]; then
  # The sound server (and a private HOME with it) first; the rest runs inside.
  export SOAK_INNER=1
  exec "$root/tests/support/with_sound_server.sh" - "$0" "$seconds" "$seed"
fi

out="${SOAK_OUT:-$(mktemp -d)}"
mkdir -p "$out"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY CHIMEWISE_AUDIO CHIMEWISE_START_TIME
export CHIMEWISE_TRANSCRIPT="$out/transcript.txt"
: >"$CHIMEWISE_TRANSCRIPT"
RANDOM="$seed"

log() { echo "[$(date +%T)] $*" | tee -a "$out/soak.log"; }
failures=0
fail() {
  log "FAILED: $*"
  failures=$((failures + 1))
}
pids=()
cleanup() {
  [ -n "${app:-}" ] && kill -9 "$app" 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
wait_for() {
  local tenths=$(($1 * 10))
  shift
  for _ in $(seq "$tenths"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# The desktop.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$out/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 grep -q '[0-9]' "$out/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(tr -dc 0-9 <"$out/display")"
wait_for 10 xdpyinfo || { echo "Xvfb does not answer" >&2; exit 1; }
openbox >/dev/null 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype pixel --width 200 --heighttype pixel --height 30 \
  --transparent false --tint 0xdddddd >/dev/null 2>&1 &
pids+=($!)
sleep 1

# An update server that trickles its greeting a byte every two seconds and never finishes it:
# "Update Me" then waits with its window open (it must give up by itself), which is also when
# Quit and logout must still end the program cleanly.
/usr/bin/python3 -c '
import socket, sys, threading, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
def trickle(c):
    try:
        for b in b"220-Welcome to a very slow server" * 1000:
            c.send(bytes([b])); time.sleep(2)
    except OSError:
        pass
while True:
    c, _ = s.accept()
    threading.Thread(target=trickle, args=(c,), daemon=True).start()
' "$out/ftp-port" &
pids+=($!)
wait_for 5 test -s "$out/ftp-port"
mkdir -p "$HOME/.config/Olm Chimewise"
printf '[Update]\nServer=ftp://127.0.0.1:%s\n' "$(cat "$out/ftp-port")" >"$HOME/.config/Olm Chimewise/settings.ini"

# A CalDAV server that reads the request and answers a byte every two seconds.
/usr/bin/python3 -c '
import socket, sys, threading, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
answer = b"HTTP/1.1 207 Multi-Status\r\nContent-Type: application/xml\r\nContent-Length: 100000\r\n\r\n<?xml"
def slow(c):
    try:
        c.recv(65536)
        for b in answer + b" " * 100000:
            c.send(bytes([b])); time.sleep(2)
    except OSError:
        pass
while True:
    c, _ = s.accept()
    threading.Thread(target=slow, args=(c,), daemon=True).start()
' "$out/dav-port" &
pids+=($!)
wait_for 5 test -s "$out/dav-port"

# Hostile calendar files: one with components nested deeper than any reader should follow; one
# with a line of a megabyte, a zone whose rule repeats every minute without end, dates that are not dates, a
# series without end, and thousands of events still to come.
/usr/bin/python3 - "$out/hostile.ics" <<'PY'
import sys
out = ["BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//soak//hostile//EN",
       "BEGIN:VTIMEZONE", "TZID:Every/Minute", "BEGIN:STANDARD", "DTSTART:19700101T000000",
       "RRULE:FREQ=MINUTELY", "TZOFFSETFROM:+0100", "TZOFFSETTO:+0200", "END:STANDARD", "END:VTIMEZONE"]
deep = out[:3] + ["BEGIN:VEVENT", "UID:deep", "DTSTART:20991231T100000Z", "SUMMARY:deep"]
deep += ["BEGIN:VALARM"] * 20000 + ["END:VALARM"] * 20000 + ["END:VEVENT", "END:VCALENDAR"]
open(sys.argv[1].replace(".ics", "-deep.ics"), "w").write("\r\n".join(deep) + "\r\n")
out += ["BEGIN:VEVENT", "UID:huge", "DTSTART:20991231T100000Z", "SUMMARY:" + "x" * 1000000, "END:VEVENT"]
out += ["BEGIN:VEVENT", "UID:zone", "DTSTART;TZID=Every/Minute:20991231T100000", "SUMMARY:zone", "END:VEVENT"]
out += ["BEGIN:VEVENT", "UID:broken", "DTSTART:20991345T256199", "SUMMARY:broken date", "END:VEVENT"]
out += ["BEGIN:VEVENT", "UID:forever", "DTSTART:20200101T100000Z", "RRULE:FREQ=SECONDLY", "SUMMARY:forever",
        "END:VEVENT"]
for n in range(3000):
    out += ["BEGIN:VEVENT", "UID:many-%d" % n, "DTSTART:2099%02d%02dT090000Z" % (1 + n % 12, 1 + n % 28),
            "SUMMARY:Hostile import %d" % n, "END:VEVENT"]
out += ["END:VCALENDAR"]
open(sys.argv[1], "w").write("\r\n".join(out) + "\r\n")
PY

# cli_job NAME CMD...: runs a chimewise-cli command beside the program, bounded to 200 s (a CalDAV
# request may take two minutes before it gives up);
# judged at the end (a crash or no end is a failure; a refusal with a message is not).
jobs_started=()
cli_job() {
  local name="$1"
  shift
  log "$name started"
  ( set +e; start=$(date +%s); timeout -s KILL 200 "$@" >"$out/$name.out" 2>&1; status=$?
    echo "$status $(($(date +%s) - start))" >"$out/$name.status" ) &
  jobs_started+=("$name")
}

app=""
extra=()   # second starts made by the user
starts=0
start_program() {
  "$program" >>"$out/program.log" 2>&1 &
  app=$!
  starts=$((starts + 1))
  echo "start $(date +%s)" >>"$out/runs.txt"
  log "start $starts (pid $app)"
}
# end_program HOW: ends the running program by Quit from its tray menu or by SIGTERM, and checks
# how it ended.
end_program() {
  local how="$1" status
  if [ "$how" = quit ]; then
    tray_menu
    xdotool key --clearmodifiers q 2>/dev/null || true
    # The goodbye takes a few seconds. A menu that did not open (no tray icon yet, during the
    # introduction) leaves the program running: logout's signal then ends it.
    if ! wait_for 12 sh -c "! kill -0 $app"; then
      kill -TERM "$app" 2>/dev/null && how="quit (no menu), then SIGTERM"
    fi
  else
    kill -TERM "$app" 2>/dev/null || true
  fi
  local waited=0
  while kill -0 "$app" 2>/dev/null && [ "$waited" -lt 300 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if kill -0 "$app" 2>/dev/null; then
    fail "the program did not end within 30 s of $how (start $starts)"
    kill -9 "$app" 2>/dev/null || true
  fi
  echo "end $(date +%s)" >>"$out/runs.txt"
  status=0
  wait "$app" || status=$?
  if [ "$status" -ne 0 ]; then
    fail "the program ended with status $status after $how (start $starts)"
  else
    log "ended by $how with status 0"
  fi
  app=""
  # The second starts made meanwhile end before the next start: one still showing its "already
  # running" box goes, and one that came while the program was ending may have become the
  # program itself. Their own ends are not judged (a second start ends on a signal at once).
  for p in "${extra[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${extra[@]}"; do wait "$p" 2>/dev/null || true; done
  extra=()
}

tray_window() { xdotool search --classname panel 2>/dev/null | head -1; }
tray_menu() {
  local w
  w="$(tray_window)" || true
  [ -n "$w" ] || return 0
  eval "$(xdotool getwindowgeometry --shell "$w")"
  # The program's icon is the only one in the tray, at its right end.
  xdotool mousemove "$((X + WIDTH - 13))" "$((Y + HEIGHT / 2))" click 3 2>/dev/null || true
  sleep 0.4
}

added=()   # "N<TAB>due" of every reminder the tool acknowledged
next_reminder=1
add_reminder() {
  local due text n
  due="$(date -d "+$((1 + RANDOM % 2)) minutes" '+%Y-%m-%d %H:%M')"
  n=$next_reminder
  text="Soak reminder number $n"
  if rec="$("$cli" add --text "$text" --activity "$due" 2>>"$out/cli.log")"; then
    added+=("$n	$due")
    next_reminder=$((n + 1))
    echo "$n	$due	record $rec" >>"$out/added.txt"
  else
    log "add $n refused: $(tail -1 "$out/cli.log")"
  fi
}

# One random act of a user.
monkey() {
  local act=$((RANDOM % 14))
  echo "$(date +%T) $act" >>"$out/monkey.log"
  case $act in
    0) "$program" show >/dev/null 2>&1 & extra+=($!) ;;  # a second start: the viewer opens
    1) xdotool key --clearmodifiers Escape ;;
    2) xdotool key --clearmodifiers Tab Tab Down ;;
    3) xdotool key --clearmodifiers alt+F4 ;;
    4) tray_menu && xdotool key --clearmodifiers Escape ;;
    5) tray_menu && xdotool key --clearmodifiers s ;;     # Say Time
    6) tray_menu && xdotool key --clearmodifiers e ;;     # Read Clipboard
    7) tray_menu && xdotool key --clearmodifiers a ;;     # Add Reminder (its tour the first time)
    8) tray_menu && xdotool key --clearmodifiers o ;;     # Options (its tour the first time)
    9) tray_menu && xdotool key --clearmodifiers m ;;     # Read Mail (no mailbox: said so)
    10) tray_menu && xdotool key --clearmodifiers r ;;    # Reminder Viewer
    12) tray_menu && xdotool key --clearmodifiers d ;;    # Update Me (the server never answers)
    13) tray_menu && xdotool key --clearmodifiers t ;;    # Tell a Joke or Quote
    11) # A click on the character, wherever it stands.
      local c
      c="$(xdotool search --name '^(Hoot|Bolt)$' 2>/dev/null | head -1)" || true
      if [ -n "$c" ]; then
        eval "$(xdotool getwindowgeometry --shell "$c")"
        xdotool mousemove "$((X + WIDTH / 2))" "$((Y + HEIGHT / 2))" click 1 2>/dev/null || true
      fi
      ;;
  esac 2>/dev/null || true
}

end_at=$(($(date +%s) + seconds))
adds_until=$((end_at - 75))   # the last reminders fall due before the end
start_program
sleep 3
import_at=$(($(date +%s) + seconds / 3))
sync_at=$(($(date +%s) + seconds / 2))
while [ "$(date +%s)" -lt "$end_at" ]; do
  if [ -n "${import_at:-}" ] && [ "$(date +%s)" -ge "$import_at" ]; then
    cli_job import "$cli" import "$out/hostile.ics"
    cli_job import-deep "$cli" import "$out/hostile-deep.ics"
    import_at=""
  fi
  if [ -n "${sync_at:-}" ] && [ "$(date +%s)" -ge "$sync_at" ]; then
    CHIMEWISE_SYNC_PASSWORD=soak cli_job sync "$cli" sync --server "http://127.0.0.1:$(cat "$out/dav-port")/cal/" --user soak
    sync_at=""
  fi
  # A stretch of use, then an end.
  stretch=$((8 + RANDOM % 25))
  stretch_end=$(($(date +%s) + stretch))
  while [ "$(date +%s)" -lt "$stretch_end" ] && [ "$(date +%s)" -lt "$end_at" ]; do
    [ "$(date +%s)" -lt "$adds_until" ] && [ $((RANDOM % 3)) -eq 0 ] && add_reminder
    monkey
    sleep "0.$((2 + RANDOM % 8))"
  done
  [ "$(date +%s)" -ge "$end_at" ] && break
  if [ $((RANDOM % 2)) -eq 0 ]; then end_program quit; else end_program term; fi
  start_program
  sleep 2
done

# Reminders wait while the Schedule Activity dialog is open (the program says so): the user closes
# the dialogs, once they can be closed (a tour running over one keeps it until its last line, up
# to two minutes). Every reminder has fallen due: the program gets a moment to announce the last
# after both.
closed_at=$(date +%s)
for _ in $(seq 60); do
  open_windows=$(xdotool search --onlyvisible --name '^(Schedule Activity|Options)' 2>/dev/null || true)
  [ -z "$open_windows" ] && break
  for w in $open_windows; do
    xdotool windowactivate --sync "$w" key --clearmodifiers Escape 2>/dev/null || true
  done
  sleep 2
  closed_at=$(date +%s)
done
last_due=$closed_at
for a in "${added[@]}"; do
  due=$(date -d "$(cut -f2 <<<"$a")" +%s)
  [ "$due" -gt "$last_due" ] && last_due=$due
done
# The program runs on until every reminder added has been named in a line heard to its end, or two
# minutes past the last one's minute (one told as the program was ended unheard is told again at
# the next start).
unheard() {
  local name said cut
  for a in "${added[@]}"; do
    name="Soak reminder number $(cut -f1 <<<"$a")(\D|$)"
    # A line cut short is written twice, the second time after "[cut short]".
    said=$(grep -cE "$name" "$CHIMEWISE_TRANSCRIPT" || true)
    cut=$(grep -cE "\[cut short\] .*$name" "$CHIMEWISE_TRANSCRIPT" || true)
    [ $((said - 2 * cut)) -gt 0 ] || return 0
  done
  return 1
}
log "waiting for every reminder to be heard"
while [ "$(date +%s)" -lt $((last_due + 30)) ] || { unheard && [ "$(date +%s)" -lt $((last_due + 120)) ]; }; do
  sleep 2
done
end_program term

# Every reminder added was announced and is still in the table.
table="$HOME/.local/share/Olm Chimewise/data/CALENDAR.DBF"
/usr/bin/python3 - "$table" >"$out/table.txt" <<'EOF'
import sys, dbfread
t = dbfread.DBF(sys.argv[1], load=True, char_decode_errors="replace")
for r in t.records:
    print((r.get("APPT_TEXT") or "").rstrip())
EOF
for a in "${added[@]}"; do
  n="$(cut -f1 <<<"$a")"
  grep -qx "Soak reminder number $n" "$out/table.txt" || fail "reminder $n is missing from the table"
done

# The import and the sync ended by themselves, with a message rather than a crash.
for j in "${jobs_started[@]}"; do
  wait_for 210 test -s "$out/$j.status" || true
  read -r status took <"$out/$j.status" 2>/dev/null || { fail "$j did not finish"; continue; }
  if [ "$status" -ge 128 ] || [ "$status" -eq 124 ]; then
    fail "$j ended with status $status after ${took}s: $(tail -c 300 "$out/$j.out")"
  else
    log "$j ended with status $status after ${took}s: $(tail -1 "$out/$j.out" | cut -c1-160)"
  fi
done

# When each reminder was first heard, and how often it was said, from the transcript (a line
# is written when it is heard). A reminder falling due while the program was down is judged from
# the program's next start.
/usr/bin/python3 - "$CHIMEWISE_TRANSCRIPT" "$out/added.txt" "$out/runs.txt" "$max_late" "$repeat_slack" \
  >"$out/judged.txt" <<'PY'
import datetime, re, sys
transcript, added, runs, max_late, slack = sys.argv[1:6]
max_late, slack = int(max_late), int(slack)
today = datetime.date.today()
heard, cut = [], 0
for line in open(transcript, encoding="utf-8", errors="replace"):
    t, _, text = line.rstrip("\n").partition("\t")
    try:
        h = datetime.datetime.combine(today, datetime.time.fromisoformat(t)).timestamp()
    except ValueError:
        continue
    if text.startswith("[cut short] "):
        # The line was stopped before its end (another feature, the program ending): it is no
        # repeat, and it tells only the reminders it had named by then (at 150 words a minute).
        said = text[len("[cut short] "):]
        for i in range(len(heard) - 1, -1, -1):
            if heard[i][1] == said and heard[i][2] is None:
                heard[i] = (heard[i][0], said, h - heard[i][0])
                cut += 1
                break
        continue
    heard.append((h, text, None))
spans, start = [], None
for line in open(runs):
    what, when = line.split()
    if what == "start":
        start = int(when)
    elif start is not None:
        spans.append((start, int(when)))
        start = None
if start is not None:
    spans.append((start, 1 << 40))
def judged_from(due):
    # Judged where the program ran on for half a minute from the due minute, or from a start.
    for a, b in spans:
        if a <= due < b:
            return due if due + 30 <= b else None
        if a > due:
            return a if a + 30 <= b else None
    return None
worst, worst_named, count, failed, repeats, most = 0, 0, 0, 0, 0, 0
for line in open(added):
    n, due_text = line.split("\t")[:2]
    due = datetime.datetime.strptime(due_text, "%Y-%m-%d %H:%M").timestamp()
    pattern = re.compile(r"Soak reminder number %s(\D|$)" % n)
    # Only a line that names it tells it: a first telling that went unheard is told again, on its
    # own, so a line for many late ones never stands for a first hearing. Several falling due
    # together are named in one line: when its name came is estimated at 150 words a minute, and a
    # line cut short tells it only if its name had been said by then.
    named = [(h, len(text[:m.start()].split()) * 0.4, len(text[:m.end()].split()) * 0.4, length)
             for h, text, length in heard for m in [pattern.search(text)] if m]
    said = [(h, at) for h, at, _, length in named if length is None]
    reached = [(h, at) for h, at, end, length in named if length is None or end <= length]
    count += 1
    if not reached:
        print("FAIL reminder %s (due %s) was never announced" % (n, due_text)); failed += 1
        continue
    base = judged_from(due)
    first, offset = reached[0]
    late = max(0, first - base) if base is not None else 0
    worst = max(worst, late)
    worst_named = max(worst_named, late + offset if base is not None else 0)
    repeats += max(0, len(said) - 1)
    most = max(most, len(said) - 1)
    if late > max_late:
        print("FAIL reminder %s was first heard %ds after it fell due (bound %ds)" % (n, late, max_late)); failed += 1
    for (a, _), (b, _) in zip(said, said[1:]):
        if b - a < 300 - slack:
            print("FAIL reminder %s was said again after %ds (repeat every 300s)" % (n, b - a)); failed += 1
summaries = sum(1 for _, text, _ in heard if text.startswith("You have ") and " late reminders" in text)
print("FIGURES %d reminders, first heard at most %ds after due (its name within the line at most %.0fs), "
      "said again on its own %.1f times on average (at most %d), %d lines for many late ones, %d lines cut short, "
      "%d failures" % (count, worst, worst_named, repeats / max(count, 1), most, summaries, cut, failed))
PY
while read -r verdict rest; do
  if [ "$verdict" = FAIL ]; then fail "$rest"; else log "$verdict $rest"; fi
done <"$out/judged.txt"
log "$starts starts over ${seconds}s, ${#added[@]} reminders added, $failures failures; transcript and logs in $out"
[ "$failures" -eq 0 ]
