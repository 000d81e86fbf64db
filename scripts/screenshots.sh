#!/usr/bin/env bash
# Renders the program's windows under Xvfb with a system tray (trayer) and a compositor, as a
# person would see them, into build/screenshots/ (or $1), one PNG per view, named after what it
# shows. Uses a private HOME, so the user's own reminders and settings are never touched.
#
#   ./scripts/screenshots.sh [OUT_DIR]
#
# Needs the packages in scripts/screenshot-packages.txt (installed when missing) and a build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
out="${1:-$build/screenshots}"
PACKAGES_FILE="$root/scripts/screenshot-packages.txt" "$root/scripts/deps.sh"
[ -x "$build/src/shell/chimewise" ] || "$root/scripts/build.sh"

mkdir -p "$out"
work="$(mktemp -d)"
display=":97"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" DISPLAY="$display"
export XDG_CONFIG_HOME="$HOME/.config" XDG_DATA_HOME="$HOME/.local/share"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export CHIMEWISE_AUDIO=silent
# What the character says, as it is heard: shows when a tour has ended.
export CHIMEWISE_TRANSCRIPT="$work/transcript.txt"

Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# A compositor, as on most desktops (the character's window is then translucent); COMPOSITOR=0
# shows a plain X11 window manager's view instead, where the character shapes its window to its
# drawing. The root is coloured like a desktop.
xsetroot -solid '#3b6e8f'
if [ "${COMPOSITOR:-1}" = 1 ]; then
  xcompmgr >/dev/null 2>&1 &
  pids+=($!)
fi
# A window manager, as on every desktop: title bars, and the character kept above other windows.
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
trayer --edge top --align right --widthtype pixel --width 200 --heighttype pixel --height 30 \
  --transparent false --tint 0xdddddd >/dev/null 2>&1 &
pids+=($!)
sleep 1

shot() {  # shot NAME: the whole screen as NAME.png
  sleep "${2:-1.5}"
  import -window root "$out/$1.png"
  echo "$out/$1.png"
}

cli() { "$build/src/cli/chimewise-cli" "$@" >/dev/null; }

# A mailbox with three unread messages, named in the settings before the first start.
maildir="$work/Maildir"
mkdir -p "$maildir/cur" "$maildir/new" "$maildir/tmp" "$XDG_CONFIG_HOME/Olm Chimewise"
mail() {  # mail N FROM SUBJECT BODY
  printf 'From: %s\r\nTo: me@example.org\r\nSubject: %s\r\nDate: %s\r\n\r\n%s\r\n' "$2" "$3" \
    "$(date -R -d "-$((4 - $1)) hours")" "$4" >"$maildir/new/$(date +%s).M$1P1.screens"
}
mail 1 "Anna Berg <anna@example.org>" "Lunch on Friday?" "Shall we try the new place by the river?"
mail 2 "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?= <jm@example.org>" "Quarterly plan, second draft" "Comments by Monday, please."
mail 3 "Library <noreply@library.example.org>" "Your books are due on Tuesday" "Two books are due."
printf '[New Mail]\nMailbox=%s\n' "$maildir" >"$XDG_CONFIG_HOME/Olm Chimewise/settings.ini"

# Reminders of later days, there from the start: none of them falls due while the tours run (a
# reminder falling due ends a tour, as it should, and would stand in its pictures).
tomorrow="$(date -d tomorrow +%F)"
nextweek="$(date -d '+7 days' +%F)"
for i in $(seq 1 8); do
  cli add --text "Project review, part $i of the quarterly plan" --activity "$tomorrow $(printf '%02d' $((8 + i))):30" \
    --type "Meeting"
done
cli add --text "Renew the car insurance" --activity "$nextweek 09:00" --memo "Compare the three offers first."
cli add --text "Mother's birthday: send flowers" --activity "$nextweek 10:00" --sound 7 --say-date

# Starts the program in the background; stop_program ends it as the desktop's logout does.
start_program() {
  "$build/src/shell/chimewise" "$@" >>"$work/program.log" 2>&1 &
  program=$!
  pids+=($program)
}
stop_program() {
  kill -TERM "$program" 2>/dev/null || true
  wait "$program" 2>/dev/null || true
}
# The tray icon's place (trayer's strip sits at the top right): X, Y, WIDTH of the strip.
icon=""
find_tray() {
  icon="$(xdotool search --onlyvisible --class trayer 2>/dev/null | head -n1 || true)"
  [ -n "$icon" ] && eval "$(xdotool getwindowgeometry --shell "$icon")"
}
tray_menu() {  # right-click the tray icon
  xdotool mousemove $((X + WIDTH - 12)) $((Y + 15)) click 3
  sleep 0.8
}
# A tour's moments: shots at the given seconds after it began, named tour-NAME-1, -2, ...
tour_shots() {
  local name="$1" n=0 last=0 at
  shift
  for at in "$@"; do
    sleep $((at - last))
    last=$at
    n=$((n + 1))
    shot "tour-$name-$n" 0
  done
}

# The tours first. The first start after installation: the character introduces itself and walks
# through the Reminder Viewer.
start_program
tour_shots introduction 6 200 235
stop_program

# A dialog's first opening gives its tour: dialog_tour KEY NAME [LAST_LINE] opens the dialog from
# the tray menu's entry KEY on a fresh start and takes the tour's pictures; with LAST_LINE (a piece of
# its last line) one more once the tour has ended.
dialog_tour() {
  start_program
  sleep 6
  find_tray
  if [ -n "$icon" ]; then
    tray_menu
    xdotool key "$1"
    tour_shots "$2" 8 30 75
    if [ -n "${3:-}" ]; then
      for _ in $(seq 240); do
        grep -q "$3" "$CHIMEWISE_TRANSCRIPT" 2>/dev/null && break
        sleep 1
      done
      shot "tour-$2-4-ended" 30
    fi
  fi
  stop_program
}
dialog_tour a schedule
# The character ends the Options tour stepped clear of the dialog.
dialog_tour o options "show those messages as"

# Once the tours are over, the reminders of today: late ones, due now, ahead with a countdown,
# with memos, sounds and spoken dates.
today="$(date +%F)"
hour() { date -d "$1" +%H:%M; }
cli add --text "Call the dentist about the crown" --activity "$today $(hour '-2 hours')" --type "Phone Call" \
  --memo "Ask whether Tuesday morning is free." --sound 2 --say-time
cli add --text "Water the plants" --activity "$today $(hour '-25 minutes')" --memo "The ferns too."
cli add --text "Stand-up meeting" --activity "$today $(hour '+10 minutes')" --remind "$today $(hour '-5 minutes')" \
  --type "Meeting" --countdown 5
cli add --text "Take the cake out of the oven" --activity "$today $(hour '-1 minutes')" --sound 1
cli add --text "Pick up the children from school" --activity "$today $(hour '-3 hours')" --say-date --say-time
cli add --text "Dentist" --activity "$today $(hour '-40 minutes')" --type "Appointment"
cli add --text "Backup the laptop" --activity "$today $(hour '-90 minutes')"
cli add --text "Buy milk, bread and apples" --activity "$today $(hour '-15 minutes')" --memo "Oat milk."
cli add --text "Call Anna back" --activity "$today $(hour '-5 minutes')" --type "Phone Call"

# Later starts greet from the corner of the screen.
start_program
sleep 6
shot "character-greeting-at-start" 0

# The character's own menu (a right-click on it).
eval "$(xdotool search --onlyvisible --name '^Hoot$' getwindowgeometry --shell 2>/dev/null | head -n 6 || true)"
if [ -n "${WIDTH:-}" ]; then
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
  shot "character-menu" 1
  xdotool key Escape
fi

# The Reminder Viewer, with the character reading the due reminders beside it.
# A second start hands "show" to the running program and says so in a box of its own.
"$build/src/shell/chimewise" show >/dev/null 2>&1 &
second=$!
sleep 2
for _ in $(seq 20); do
  box="$(xdotool search --onlyvisible --name "Program Is Loaded" 2>/dev/null | head -n1 || true)"
  [ -n "$box" ] && break
  sleep 0.25
done
[ -n "$box" ] && xdotool windowactivate "$box" key Return 2>/dev/null || true
sleep 0.5
kill "$second" 2>/dev/null || true
shot "reminder-viewer-with-twenty-reminders" 3

find_tray
if [ -n "$icon" ]; then
  sleep 1  # the alarm scan may still be bringing the viewer up; the menu opens on a settled screen
  tray_menu
  shot "tray-menu-open"
  xdotool key Escape

  # The dialogs after their tours: the Schedule Activity dialog, then each of the Options dialog's
  # five tabs (Ctrl+Tab goes on).
  tray_menu
  xdotool key a
  shot "schedule-activity-dialog" 3
  # Each Repeat choice in turn (Alt+R to the list, Down to the next choice).
  for choice in every-day every-weekday every-week every-month-on-day every-month-on-weekday every-year custom; do
    xdotool key alt+r Down
    shot "schedule-repeat-$choice" 1
  done
  xdotool key Escape
  sleep 1
  # Quick Add: one line, and how it is read shown under it as it is typed.
  tray_menu
  xdotool key i
  sleep 1
  xdotool type --delay 40 "Water the plants every day at 8"
  shot "quick-add" 1
  xdotool key Escape
  sleep 1
  tray_menu
  xdotool key o
  sleep 2
  for tab in characters time-announcements reminder-options email-options sync; do
    shot "options-$tab" 1
    xdotool key ctrl+Tab
  done
  xdotool key Escape
  sleep 1
  tray_menu
  xdotool key b
  shot "about" 2
  xdotool key Return
  sleep 1

  # Read Mail: the character tells how many messages wait and lists them in the unread e-mail window.
  tray_menu
  xdotool key m
  shot "unread-email-window" 5
fi

stop_program

# A dark desktop with a 16-point font, as a GTK desktop sets them (Qt reads both through its GTK
# platform theme): the viewer's list, icons and the word balloon in the user's font and colours.
mkdir -p "$XDG_CONFIG_HOME/gtk-3.0"
printf '[Settings]\ngtk-font-name=DejaVu Sans 16\ngtk-application-prefer-dark-theme=1\n' \
  >"$XDG_CONFIG_HOME/gtk-3.0/settings.ini"
export QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark
start_program show
shot "reminder-viewer-dark-16pt" 8
stop_program
unset QT_QPA_PLATFORMTHEME GTK_THEME

# Every script: the word balloon saying Russian, Chinese, Arabic and emoji (the character on its own,
# through agentctl; the picture once the whole text shows), then the viewer listing reminders in them.
balloon() {  # balloon NAME TEXT
  "$build/libs/agent/agentctl" show "$root/assets/characters/Hoot.ochar" --at 700,400 --say "$2\\Pau=8000\\" \
    >/dev/null 2>&1 &
  local said=$!
  shot "balloon-$1" 7
  wait "$said" || true
}
balloon russian "Reminder: Встреча с Анной в кафе «Пушкин». You are 3 minutes late."
balloon chinese "Reminder: 和安娜在咖啡馆开会 3 点. You are 3 minutes late."
balloon arabic "اجتماع مع أحمد في المكتب الساعة ٣."
balloon emoji "Reminder: 🎂 Anna's birthday 🎉👍🏽 Café ☕ with Zoë. You are 3 minutes late."
# Earlier than every other reminder, so that they head the list (and are said at the start).
late=6
for text in "Встреча с Анной" "和安娜开会 3 点" "اجتماع مع أحمد" "🎂 Anna's birthday 🎉" "Συνάντηση με την Άννα"; do
  cli add --text "$text" --activity "$(date -d "-$late hours" '+%F %H:%M')" ||
    echo "the reminder table did not take: $text" >&2
  late=$((late + 1))
done
start_program show
shot "reminder-viewer-any-script" 8
stop_program
echo "pictures in $out"
