#!/usr/bin/env bash
# Installs the package into a fresh prefix and runs desktop_session.sh with an empty home: as a
# throwaway account when run as root, else as this account.
#   end_to_end.sh PACKAGE.deb OUT_DIR   (OUT_DIR gets the recordings, screenshots, words and log)
set -euo pipefail
deb="$(realpath "$1")"
out="$(mkdir -p "$2" && realpath "$2")"
here="$(cd "$(dirname "$0")" && pwd)"

work="$(mktemp -d /tmp/chimewise-e2e.XXXXXX)"
chmod 755 "$work"
user=""
cleanup() {
  if [ -n "$user" ]; then
    pkill -KILL -u "$user" 2>/dev/null || true
    sleep 0.5
    userdel "$user" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

prefix="$work/prefix"
dpkg-deb -x "$deb" "$prefix"
cp "$here/desktop_session.sh" "$work/"
mkdir -p "$work/home"

if [ "$(id -u)" -eq 0 ]; then
  # X servers started by other users keep their sockets here; it must exist as X expects it.
  mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
  user="chimewise-e2e-$$"
  useradd --home-dir "$work/home" --no-create-home --shell /bin/bash --user-group "$user"
  chown "$user:" "$work/home"
  as_user=(runuser -u "$user" --)
else
  as_user=()
fi

status=0
"${as_user[@]}" env -i PATH="$prefix/usr/bin:/usr/local/bin:/usr/bin:/bin" HOME="$work/home" LANG=C.UTF-8 \
  USER="${user:-$(id -un)}" bash "$work/desktop_session.sh" "$prefix" || status=$?
cp -r "$work/home/e2e/." "$out/" 2>/dev/null || true
exit "$status"
