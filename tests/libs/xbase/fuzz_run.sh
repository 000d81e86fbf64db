#!/usr/bin/env bash
# Builds the readers' libFuzzer target with clang (its own small build folder)
# and runs it for a short time from seeds made by the engine itself.
#   fuzz_run.sh SOURCE_DIR BUILD_DIR [SECONDS]
set -euo pipefail
src="$1"; build="$2"; seconds="${3:-25}"
out="$build/fuzz-xbase"
mkdir -p "$out/corpus" "$out/artifacts"
cxx="${FUZZ_CXX:-clang++}"
lib="$src/libs/xbase"
if [ ! -x "$out/fuzz_readers" ] || [ -n "$(find "$lib" -newer "$out/fuzz_readers" -name '*.cpp' -o -newer "$out/fuzz_readers" -name '*.h' | head -1)" ]; then
  "$cxx" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$lib/include" -I"$lib/src" "$lib"/src/*.cpp "$lib/fuzz/fuzz_readers.cpp" -o "$out/fuzz_readers"
fi
# Seeds: a table with every field kind and its memo file and index, packed into
# the target's input format, plus the calendar template and a few expressions.
seeds="$(mktemp -d)"
trap 'rm -rf "$seeds"' EXIT
"$build/tests/libs/xbase/xbase_make_mixed" "$seeds/MIXED.DBF"
/usr/bin/python3 - "$seeds" "$out/corpus" "$src/assets/data" <<'PY'
import os, sys
seeds, corpus, assets = sys.argv[1:4]
def pack(dbf, fpt, cdx, name):
    d, f = open(dbf, "rb").read(), open(fpt, "rb").read()
    c = open(cdx, "rb").read() if os.path.exists(cdx) else b""
    d, f = d[:65535], f[:65535]
    blob = bytes([0]) + len(d).to_bytes(2, "little") + len(f).to_bytes(2, "little") + d + f + c[:20000]
    open(os.path.join(corpus, name), "wb").write(blob)
pack(os.path.join(seeds, "MIXED.DBF"), os.path.join(seeds, "MIXED.FPT"), os.path.join(seeds, "MIXED.CDX"), "mixed")
pack(os.path.join(assets, "CALENDAR.DBF"), os.path.join(assets, "CALENDAR.FPT"), os.path.join(assets, "CALENDAR.CDX"), "calendar")
for i, e in enumerate([b"!DELETED().and.STATUS<>'H'", b"QKeyVal('X')<='20261206 600' .or. FLAG=.T.",
                       b"upper(substr(NAME,2,3))+str(MINUTES,4,0)+iif(EMPTY(WHEN), 'a', 'b')"]):
    open(os.path.join(corpus, "expr%d" % i), "wb").write(b"\x01" + e)
PY
"$out/fuzz_readers" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=70000 \
  -artifact_prefix="$out/artifacts/" "$out/corpus" 2>&1 | tail -5
