#!/bin/sh
# Runs the secret store test with no bus at all in a temporary HOME; a dbus-launch of our own on
# PATH records whether anyone started one.
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/run" "$tmp/bin"
printf '#!/bin/sh\ntouch "%s/dbus-launch-ran"\nexit 1\n' "$tmp" >"$tmp/bin/dbus-launch"
chmod +x "$tmp/bin/dbus-launch"
env -u DBUS_SESSION_BUS_ADDRESS HOME="$tmp" XDG_RUNTIME_DIR="$tmp/run" DISPLAY=:97 PATH="$tmp/bin:$PATH" \
  CHIMEWISE_TEST_NO_BUS=1 "$1" || exit 1
[ ! -e "$tmp/dbus-launch-ran" ] || { echo "dbus-launch was started"; exit 1; }
