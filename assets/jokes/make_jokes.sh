#!/usr/bin/env bash
# Writes assets/JOKES.dbf and assets/JOKES.fpt from jokes.txt with the program's own engine
# (the make-jokes tool of src/extras). Build first, then:
#   assets/jokes/make_jokes.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: make_jokes.sh BUILD_DIR}"
cmake --build "$build" --target chimewise_make_jokes
"$build/src/extras/make-jokes" "$here/jokes.txt" "$here/../JOKES.dbf"
