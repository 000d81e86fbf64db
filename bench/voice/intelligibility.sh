#!/bin/bash
# Intelligibility of the characters' voices: speaks sentences the program says with each
# shipped character's voice (and espeak-ng's for comparison) through `agentctl speak`,
# recognises them with pocketsphinx's general English model (no grammar) and prints the word
# error rate per voice.
#
#   bench/voice/intelligibility.sh [AGENTCTL] [SENTENCES]
#
# VOICES="flite:slt flite:awb" measures those voices instead (at the default rate), VOICES=""
# the characters alone; CHARS="dir/*.ochar" other character files instead of the shipped ones.
# Needs sox, the pocketsphinx and pocketsphinx-en-us packages. Not run by the tests.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
agentctl=${1:-$root/build/libs/agent/agentctl}
sentences=${2:-$here/sentences.txt}
model=/usr/share/pocketsphinx/model/en-us
command -v sox >/dev/null || { echo "sox is missing" >&2; exit 1; }
command -v pocketsphinx_continuous >/dev/null || { echo "pocketsphinx_continuous is missing (package pocketsphinx)" >&2; exit 1; }
[ -x "$agentctl" ] || { echo "no agentctl at $agentctl (build first)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

# Voices: each shipped character's, then espeak-ng's for comparison.
voices=()
labels=()
for char in $([ -z "${VOICES:-}" ] && echo ${CHARS:-"$root"/assets/characters/*.ochar}); do
  voice=$("$agentctl" list "$char" 2>/dev/null | sed -n 's/^voice: \([^ ]*\).*/\1/p')
  voices+=("--char $char")
  labels+=("$(basename "$char" .ochar) ($voice)")
done
for v in ${VOICES-espeak:en-us espeak:en-us+f3}; do
  voices+=("--voice $v")
  labels+=("$v")
done

# Word error: Levenshtein distance over words between reference and hypothesis. The model's
# dictionary writes "a.m." and "p.m." as the single words "am" and "pm": both sides say them so.
normalise() { sed -E 's/(^| )a m( |$)/\1am\2/g; s/(^| )p m( |$)/\1pm\2/g'; }
wer() {
  awk -v ref="$(normalise <<<"$1")" -v hyp="$(normalise <<<"$2")" 'BEGIN {
    n = split(ref, r, " "); m = split(hyp, h, " ");
    for (i = 0; i <= n; i++) d[i, 0] = i;
    for (j = 0; j <= m; j++) d[0, j] = j;
    for (i = 1; i <= n; i++) for (j = 1; j <= m; j++) {
      c = d[i-1, j-1] + (r[i] == h[j] ? 0 : 1);
      if (d[i-1, j] + 1 < c) c = d[i-1, j] + 1;
      if (d[i, j-1] + 1 < c) c = d[i, j-1] + 1;
      d[i, j] = c;
    }
    print d[n, m], n }'
}

printf '%-28s %8s %8s %7s\n' "voice" "errors" "words" "WER"
for k in "${!voices[@]}"; do
  errors=0
  words=0
  i=0
  while IFS='|' read -r text reference; do
    [[ -z "$text" || "$text" == \#* ]] && continue
    i=$((i + 1))
    wav="$work/s$k-$i.wav"
    # shellcheck disable=SC2086
    "$agentctl" speak "$text" "$wav.raw.wav" ${voices[$k]} --wav-rate 16000 >/dev/null 2>&1
    # Half a second of quiet on each side, as a listener hears speech in a room: the
    # recogniser takes its measure of the background from the first frames.
    sox "$wav.raw.wav" "$wav" pad 0.5 0.5
    hyp=$(pocketsphinx_continuous -infile "$wav" -hmm "$model/en-us" -lm "$model/en-us.lm.bin" \
            -dict "$model/cmudict-en-us.dict" -logfn /dev/null 2>/dev/null | tr '\n' ' ' | tr -s ' ')
    read -r e n < <(wer "$reference" "${hyp,,}")
    errors=$((errors + e))
    words=$((words + n))
    [ -n "${VERBOSE:-}" ] && printf '  %s\n    heard: %s\n' "$reference" "$hyp"
  done < "$sentences"
  printf '%-28s %8d %8d %6.1f%%\n' "${labels[$k]}" "$errors" "$words" "$(awk -v e=$errors -v n=$words 'BEGIN{print 100*e/n}')"
done
