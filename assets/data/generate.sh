#!/usr/bin/env bash
# Writes the empty calendar template from its field list in fields/ with the engine's own tool,
# gives it its thirteen index tags, and writes the jokes table from its source collection.
#   assets/data/generate.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:?usage: generate.sh BUILD_DIR}"
tool="$build/libs/xbase/xbase"
fields() { grep -v '^\s*#' "$1" | sed '/^\s*$/d' | awk '{ printf "%s:%s:%s%s ", $1, $2, $3, ($4 != "" ? ":" $4 : "") }'; }
make_table() {  # TABLE FIELDLIST
  rm -f "$1" "${1%.*}.FPT" "${1%.*}.fpt" "${1%.*}.CDX" "${1%.*}.cdx"
  # shellcheck disable=SC2046
  "$tool" create "$1" $(fields "$2")
}
make_table "$here/CALENDAR.DBF" "$here/fields/CALENDAR.fields"
"$build/src/data/chimewise-rebuild" "$here/.."   # creates CALENDAR.CDX with the thirteen tags
"$here/../jokes/make_jokes.sh" "$build"   # the jokes and quotes, from assets/jokes/jokes.txt
echo "templates written"
