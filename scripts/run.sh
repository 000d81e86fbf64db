#!/usr/bin/env bash
# Installs what is needed, builds, and starts Olm Chimewise. Arguments go to the program.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
"$root/scripts/build.sh"
exec "${BUILD_DIR:-$root/build}/src/shell/chimewise" "$@"
