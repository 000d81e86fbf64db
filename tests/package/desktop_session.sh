#!/usr/bin/env bash
# A new user's first session on a fresh desktop (Xvfb, openbox, trayer; PulseAudio recorded by
# parec): the program started from its menu entry hears a reminder added with chimewise-cli read
# aloud (recognised by pocketsphinx), then says goodbye at Quit from the tray and ends with 0.
#   desktop_session.sh PREFIX      (PREFIX holds the installed usr/ tree; results in ~/e2e)
set -euo pipefail
prefix="$1"
out="$HOME/e2e"
mkdir -p "$out"
export XDG_RUNTIME_DIR="$HOME/run"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

say() { echo "[$(date +%T)] $*"; }
fail() {
  echo "FAILED: $*" >&2
  [ -f "$out/program.log" ] && sed 's/^/  program: /' "$out/program.log" >&2
  exit 1
}
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
wait_for() { # SECONDS COMMAND...: waits for the command to succeed
  local seconds="$1"
  shift
  for _ in $(seq $((seconds * 10))); do "$@" >/dev/null 2>&1 && return 0 || sleep 0.1; done
  return 1
}
balloon() { xdotool search --onlyvisible --name "Word Balloon" >/dev/null 2>&1; }
no_balloon() { ! balloon; }
quiet() { ! wait_for 3 balloon; } # no balloon for three seconds on end

# The desktop: a display Xvfb picks free, a window manager, a tray at the top right.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$HOME/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 10 grep -q '[0-9]' "$HOME/display" || fail "Xvfb did not start"
export DISPLAY=":$(tr -dc 0-9 <"$HOME/display")"
wait_for 10 xdpyinfo || fail "Xvfb does not answer on $DISPLAY"
openbox >/dev/null 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype pixel --width 200 --heighttype pixel --height 30 \
  --transparent false --tint 0xdddddd >/dev/null 2>&1 &
pids+=($!)

# The sound server: everything played goes to a null sink, whose monitor parec records.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no -L "module-null-sink sink_name=nullsink" \
  -L "module-native-protocol-unix auth-anonymous=1" -L module-always-sink >"$out/pulseaudio.log" 2>&1 &
pids+=($!)
wait_for 10 pactl info || fail "PulseAudio did not start"
record() { # FILE: records the sink until stop_recording
  parec -d nullsink.monitor --rate=16000 --channels=1 --format=s16le --file-format=wav "$1" &
  recorder=$!
  pids+=($recorder)
}
stop_recording() { kill -INT "$recorder" 2>/dev/null && wait "$recorder" 2>/dev/null || true; }
heard() { # WAV MIN WORD...: pocketsphinx hears at least MIN of the words
  local text found=0 w min="$2"
  text="$(pocketsphinx_continuous -infile "$1" -logfn /dev/null 2>/dev/null | tr '[:upper:]' '[:lower:]')"
  say "heard: $text"
  shift 2
  for w in "$@"; do grep -qw -- "$w" <<<"$text" && found=$((found + 1)); done
  [ "$found" -ge "$min" ]
}

record "$out/reminder.wav"

# Start the program as the desktop's menu entry does.
entry="$prefix/usr/share/applications/org.olmchimewise.Chimewise.desktop"
[ -f "$entry" ] || fail "no menu entry at $entry"
exec_line="$(sed -n 's/^Exec=//p' "$entry" | head -n1)"
read -r -a command <<<"${exec_line//%[fFuUick]/}"
"${command[@]}" >"$out/program.log" 2>&1 &
program=$!

tray_icon() { xdotool search --onlyvisible --class trayer | head -n1; }
wait_for 30 tray_icon || fail "no system tray"
data="$HOME/.local/share/Olm Chimewise/data/CALENDAR.DBF"
wait_for 30 test -f "$data" || fail "the program did not set up its data folder"
wait_for 30 balloon || fail "the character never spoke"

# A first start introduces the program at length, holding reminders back; "Stop Talking" ends it.
sleep 8
character=""
for file in "$prefix"/usr/share/olm-chimewise/characters/*.ochar; do
  character="$(xdotool search --onlyvisible --name "^$(basename "$file" .ochar)\$" 2>/dev/null | head -n1 || true)"
  [ -n "$character" ] && break
done
[ -n "$character" ] || fail "the character's window is not on the desktop"
eval "$(xdotool getwindowgeometry --shell "$character")"
stopped=""
for _ in 1 2 3; do
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  sleep 1
  xdotool key k
  for _ in 1 2 3; do quiet && stopped=yes && break; done
  [ -n "$stopped" ] && break
done
[ -n "$stopped" ] || fail "\"Stop Talking\" from the character's menu did not quiet it"

# A reminder due a minute later.
text="Send flowers to mother for her birthday"
due="$(date -d '+1 minute' '+%F %H:%M')"
chimewise-cli add --text "$text" --activity "$due" >"$out/cli.log"

# Once due, the program moves the reminder's alarm on and reads it.
while [ "$(date +%s)" -lt "$(date -d "$due" +%s)" ]; do sleep 1; done
moved() { kill -0 "$program" && [ "$(chimewise-cli next)" != "$due" ]; }
wait_for 150 moved || fail "the reminder was not announced within 150 s of falling due (or the program ended)"
wait_for 30 balloon || fail "no balloon after the reminder fell due"
sleep 3 # the balloon fills word by word as the character speaks
import -window root "$out/reminder.png"
wait_for 30 no_balloon || true
sleep 2
stop_recording
heard "$out/reminder.wav" 3 send flowers mother birthday || fail "the reminder's words were not heard"

# Quit from the tray menu: right-click the icon, then Q.
record "$out/goodbye.wav"
eval "$(xdotool getwindowgeometry --shell "$(tray_icon)")"
xdotool mousemove $((X + WIDTH - 12)) $((Y + 15)) click 3
sleep 1
xdotool key q
wait_for 30 bash -c "! kill -0 $program" || fail "the program did not end after Quit"
status=0
wait "$program" || status=$?
sleep 1
stop_recording
heard "$out/goodbye.wav" 2 thank you for using || fail "the goodbye was not heard"
[ "$status" -eq 0 ] || fail "the program ended with status $status"
say "the program ended with status 0"
