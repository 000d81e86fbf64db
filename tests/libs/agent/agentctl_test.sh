#!/usr/bin/env bash
# agentctl end to end: lists and renders a shipped character (its frames differ: it moves), and
# speaks tagged text with its events in order.
set -euo pipefail
agentctl="$1"
chars="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work"

"$agentctl" list "$chars/Hoot.ochar" | grep -q "^  Wave	"
"$agentctl" render "$chars/Hoot.ochar" Wave "$work/big" --size 6 > /dev/null
[ "$(md5sum "$work/big"/Wave_*.png | awk '{print $1}' | sort -u | wc -l)" -gt 8 ]
if "$agentctl" render "$chars/Hoot.ochar" Juggle "$work/x" 2> /dev/null; then exit 1; fi

"$agentctl" speak 'Start \Mrk=100\ then \pau=400\ the \map="ac-tivity"="activity"\ list. \Mrk=200\' \
  "$work/out.wav" --char "$chars/Hoot.ochar" > "$work/events.jsonl"
/usr/bin/python3 - "$work/events.jsonl" <<'PY'
import json, sys
events = [json.loads(l) for l in open(sys.argv[1])]
order = [e.get("id") or e.get("text") for e in events if e["type"] in ("word", "bookmark")]
assert order == ["Start", 100, "then", "the", "activity", "list.", 200], order
assert [e["ms"] for e in events] == sorted(e["ms"] for e in events), "events out of time order"
PY
echo ok
