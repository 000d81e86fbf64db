#!/usr/bin/env bash
# Builds the Debian package olm-chimewise_VERSION_ARCH.deb into the repository's top folder and
# checks it with lintian. Install it with:  sudo apt install ./olm-chimewise_*.deb
#
# The package is built in build-package/ (the program only, no tests), with the hardening flags
# Debian builds its own packages with. CHIMEWISE_MAINTAINER="Name <address>" sets the Maintainer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-package}"
"$root/scripts/deps.sh"
BUILD_DIR="$build" "$root/scripts/build.sh" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCHIMEWISE_BUILD_TESTS=OFF -DCHIMEWISE_BUILD_BENCHMARKS=OFF
rm -rf "$build/package"
(cd "$build" && cpack -G DEB -B "$build/package" >/dev/null)
debs=("$build"/package/olm-chimewise_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: cpack made no package" >&2; exit 1; }
cp "${debs[0]}" "$root/"
deb="$root/$(basename "${debs[0]}")"
if command -v lintian >/dev/null; then
  lintian --fail-on error "$deb"
fi
echo "$deb"
