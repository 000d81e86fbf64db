#!/bin/sh
# Runs the secret store test in a temporary HOME: with no bus at all (a dbus-launch of our own on
# PATH records whether anyone started one), then against a throwaway gnome-keyring in a D-Bus
# session of its own. Exits 77 (skipped) when gnome-keyring is missing.
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/run" "$tmp/bin"
printf '#!/bin/sh\ntouch "%s/dbus-launch-ran"\nexit 1\n' "$tmp" >"$tmp/bin/dbus-launch"
chmod +x "$tmp/bin/dbus-launch"
env -u DBUS_SESSION_BUS_ADDRESS HOME="$tmp" XDG_RUNTIME_DIR="$tmp/run" DISPLAY=:97 PATH="$tmp/bin:$PATH" \
  CHIMEWISE_TEST_NO_BUS=1 "$1" || exit 1
[ ! -e "$tmp/dbus-launch-ran" ] || { echo "dbus-launch was started"; exit 1; }
command -v gnome-keyring-daemon >/dev/null || { echo "SKIP: gnome-keyring is not installed"; exit 77; }
HOME="$tmp" XDG_RUNTIME_DIR="$tmp/run" CHIMEWISE_TEST_KEYRING=1 dbus-run-session -- sh -c \
  'echo -n testpw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && exec "$0"' "$1"
