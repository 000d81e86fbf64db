#!/usr/bin/env bash
# agentctl end to end: lists and renders both shipped characters, speaks tagged text and
# checks the events come in order with sensible times.
set -euo pipefail
agentctl="$1"
chars="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR="$work"

# Width x height from a PNG's header.
png_size() {
  /usr/bin/python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); assert d[:8]==b"\x89PNG\r\n\x1a\n"; print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1"
}

for c in Hoot Bolt; do
  "$agentctl" list "$chars/$c.ochar" > "$work/list.txt"
  grep -q "^name: $c" "$work/list.txt"
  for a in GestureLeft Wave DoMagic2 IdleSleep; do grep -q "^  $a	" "$work/list.txt"; done
  # Every animation at the smallest size; a few at the largest.
  "$agentctl" render "$chars/$c.ochar" all "$work/$c-small" --size 0 > /dev/null
  "$agentctl" render "$chars/$c.ochar" Wave "$work/$c-big" --size 6 > /dev/null
  small=$(ls "$work/$c-small" | wc -l)
  [ "$small" -gt 300 ] || { echo "only $small frames for $c"; exit 1; }
  [ "$(png_size "$work/$c-small/Wave_000.png")" = "40x35" ]
  [ "$(png_size "$work/$c-big/Wave_000.png")" = "320x280" ]
  # Frames of one animation differ from each other: the character moves.
  [ "$(md5sum "$work/$c-big"/Wave_*.png | awk '{print $1}' | sort -u | wc -l)" -gt 8 ]
done

if "$agentctl" render "$chars/Hoot.ochar" Juggle "$work/x" 2> "$work/err.txt"; then exit 1; fi
grep -q 'no animation named "Juggle"' "$work/err.txt"

"$agentctl" speak 'Start \Mrk=100\ then \spd=180\ quicker, \pit=400\ higher \pau=400\ and the \map="ac-tivity"="activity"\ list. \Mrk=200\' \
  "$work/out.wav" --char "$chars/Hoot.ochar" > "$work/events.jsonl"
[ "$(head -c 4 "$work/out.wav")" = "RIFF" ]
/usr/bin/python3 - "$work/events.jsonl" <<'PY'
import json, sys
events = [json.loads(l) for l in open(sys.argv[1])]
kinds = [(e["type"], e.get("id") or e.get("text")) for e in events if e["type"] in ("word", "bookmark")]
order = [k[1] for k in kinds]
assert order == ["Start", 100, "then", "quicker,", "higher", "and", "the", "activity", "list.", 200], order
times = [e["ms"] for e in events if e["type"] != "end"]
assert times == sorted(times), "events out of time order"
mouths = {e["shape"] for e in events if e["type"] == "mouth"}
assert len(mouths) >= 4, mouths
end = events[-1]
assert end["type"] == "end" and end["shown"] == "Start then quicker, higher and the activity list.", end
word = {e["text"]: e["ms"] for e in events if e["type"] == "word"}
assert word["and"] - word["higher"] >= 400, "the pause is heard"
PY
echo ok
