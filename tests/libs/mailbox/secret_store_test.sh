#!/bin/sh
# Runs the secret store tests against a throwaway gnome-keyring in a D-Bus session of their own,
# with HOME and XDG_RUNTIME_DIR in a temporary folder. Exits 77 (skipped) when the tools are missing.
test_binary="$1"
for tool in dbus-run-session gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed (packages dbus-x11, gnome-keyring)"
    exit 77
  fi
done
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir -m 700 "$tmp/run"
HOME="$tmp" XDG_RUNTIME_DIR="$tmp/run" CHIMEWISE_TEST_NO_BUS=1 DBUS_SESSION_BUS_ADDRESS="unix:path=$tmp/no-bus" \
  "$test_binary" --gtest_filter='SecretStoreWithoutService.*' || exit 1
HOME="$tmp" XDG_RUNTIME_DIR="$tmp/run" CHIMEWISE_TEST_KEYRING=1 dbus-run-session -- sh -c \
  'echo -n testpw | gnome-keyring-daemon --unlock --components=secrets >/dev/null && exec "$0" --gtest_filter="SecretStoreTest.*"' "$test_binary"
