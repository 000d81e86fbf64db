#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. With CI=true it also builds and runs
# the suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
# In CI the benchmarks are left out of the build (they are run by hand, never by the tests), and
# so is the debug information: it costs a quarter of the compile time, and a fault found there
# is looked at in the sanitizer pass below, which keeps line tables.
if [ "${CI:-}" = "true" ]; then
  "$root/scripts/build.sh" -DCHIMEWISE_BUILD_BENCHMARKS=OFF \
    "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"
else
  "$root/scripts/build.sh"
fi
# Most tests wait (on speech clocks, timers, servers) far more than they compute: four at a time
# keep two cores busy.
(cd "${BUILD_DIR:-$root/build}" && ctest --output-on-failure -j 4 --timeout 300)
if [ "${CI:-}" = "true" ] || [ "${SANITIZE:-}" = "1" ]; then
  # Lean: line tables only for the reports, and the tests of the dialogs (the tours, the viewer,
  # the schedule and options dialogs, the extras' windows: widgets driven step by step, over
  # code the plain pass runs too) left to the plain pass. The sanitizers look for memory and
  # thread faults, and those live where this pass still goes: the libraries, the character and
  # its sound, mail, the update transfer, the table, and the program's start and exit.
  BUILD_DIR="$root/build-asan" "$root/scripts/build.sh" -DCHIMEWISE_SANITIZE=ON -DCHIMEWISE_BUILD_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 \
    "-DCHIMEWISE_SKIP=tests/tours;tests/viewer;tests/schedule;tests/options;tests/extras"
  (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j 3 --timeout 600)
fi
