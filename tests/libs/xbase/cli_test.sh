#!/usr/bin/env bash
# The xbase tool as people use it: check, pack, reindex, keys and dump on a
# good table, and a clear non-zero exit on a damaged one.
#   cli_test.sh BUILD_DIR
set -euo pipefail
build="$1"
xbase="$build/libs/xbase/xbase"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

"$build/tests/libs/xbase/xbase_make_mixed" "$tmp/MIXED.DBF"
"$xbase" check "$tmp/MIXED.DBF" | grep -q "ok: 7 records, 3 tags" || fail "check of a good table"
[ "$("$xbase" dump "$tmp/MIXED.DBF" | wc -l)" = 7 ] || fail "dump lists 7 records"
[ "$("$xbase" dump "$tmp/MIXED.DBF" | grep -c '"deleted":true')" = 2 ] || fail "dump shows 2 deleted"
"$xbase" keys "$tmp/MIXED.DBF" NAME | head -1 | grep -q $'^2\t ' || fail "blank name sorts first in NAME"
"$xbase" keys "$tmp/MIXED.DBF" NOSUCH 2>"$tmp/err" && fail "keys of a missing tag succeeds"
grep -q "NotFound: no tag NOSUCH" "$tmp/err" || fail "missing tag message"

"$xbase" pack "$tmp/MIXED.DBF" | grep -q "packed: 5 records" || fail "pack"
[ "$("$xbase" dump "$tmp/MIXED.DBF" | grep -c '"deleted":true')" = 0 ] || fail "pack left deleted records"
"$xbase" dump "$tmp/MIXED.DBF" | grep -q 'line 299 of a long memo' || fail "pack kept the long memo"
"$xbase" reindex "$tmp/MIXED.DBF" | grep -q "reindexed: 3 tags" || fail "reindex"
"$xbase" check "$tmp/MIXED.DBF" >/dev/null || fail "check after pack and reindex"

# A damaged index page: check says so and exits non-zero; reindex repairs.
printf '\xff\xff\xff\xff' | dd of="$tmp/MIXED.CDX" bs=1 seek=4200 conv=notrunc status=none
if "$xbase" check "$tmp/MIXED.DBF" >"$tmp/out" 2>&1; then fail "check passed a damaged index"; fi
grep -q "checksum mismatch" "$tmp/out" || fail "check names the damage: $(cat "$tmp/out")"
"$xbase" reindex "$tmp/MIXED.DBF" >/dev/null || fail "reindex of a damaged index"
"$xbase" check "$tmp/MIXED.DBF" >/dev/null || fail "check after repair"

# A header that promises more records than the file holds: dump lists those it holds and warns.
cp "$tmp/MIXED.DBF" "$tmp/BAD.DBF"; cp "$tmp/MIXED.FPT" "$tmp/BAD.FPT"
printf '\xff\xff' | dd of="$tmp/BAD.DBF" bs=1 seek=4 conv=notrunc status=none
[ "$("$xbase" dump "$tmp/BAD.DBF" 2>"$tmp/err" | wc -l)" = 5 ] || fail "dump of a count past the end lists the 5 records"
grep -q "header says 65535 records but the file holds 5" "$tmp/err" || fail "damage warning: $(cat "$tmp/err")"
echo "cli ok"
