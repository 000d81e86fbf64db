#!/usr/bin/env bash
# The character platform knows nothing of the program that uses it: no setting of the program
# (its CHIMEWISE_ environment variables) is read anywhere in the library's sources. The tools
# beside it may read them; they are not the library.
set -euo pipefail
lib="$1"
if grep -rn "CHIMEWISE_" "$lib/include" "$lib/src"; then
  echo "the platform library reads a program setting (above); take it as a parameter instead"
  exit 1
fi
