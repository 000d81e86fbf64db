#!/bin/bash
# The release tool: a key made by keygen signs a file that verify accepts, and only that file.
set -eu
tool=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
public=$("$tool" keygen "$dir/secret")
[ "$(stat -c %a "$dir/secret")" = 600 ] || { echo "secret key readable by others"; exit 1; }
if "$tool" keygen "$dir/secret" >/dev/null 2>&1; then echo "keygen overwrote a key"; exit 1; fi
printf 'installer\n' > "$dir/105.exe"
"$tool" sign "$dir/secret" "$dir/105.exe"
[ "$(stat -c %s "$dir/105.exe.sig")" = 64 ] || { echo "signature is not 64 bytes"; exit 1; }
"$tool" verify "$public" "$dir/105.exe" >/dev/null
printf 'tampered\n' > "$dir/105.exe"
if "$tool" verify "$public" "$dir/105.exe" >/dev/null; then echo "tampered file verified"; exit 1; fi
echo ok
