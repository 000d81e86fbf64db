#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. With CI=true it also builds and runs
# the suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
# In CI the benchmarks are left out of the build: they are run by hand, never by the tests.
if [ "${CI:-}" = "true" ]; then
  "$root/scripts/build.sh" -DCHIMEWISE_BUILD_BENCHMARKS=OFF
else
  "$root/scripts/build.sh"
fi
# Most tests wait (on speech clocks, timers, servers) far more than they compute: four at a time
# keep two cores busy.
(cd "${BUILD_DIR:-$root/build}" && ctest --output-on-failure -j 4 --timeout 300)
if [ "${CI:-}" = "true" ] || [ "${SANITIZE:-}" = "1" ]; then
  # Lean: line tables only for the reports, and the tours (dialogs driven step by step, the
  # slowest tests by far, over code the other tests run too) only in the plain pass.
  BUILD_DIR="$root/build-asan" "$root/scripts/build.sh" -DCHIMEWISE_SANITIZE=ON -DCHIMEWISE_BUILD_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 -DCHIMEWISE_SKIP=tests/tours
  (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j 3 --timeout 600)
fi
