#!/usr/bin/env bash
# with_sound_server.sh RECORDING CMD ARGS...
# Runs CMD against a private PulseAudio whose only output is a null sink, recording what reaches
# the sink into RECORDING (16 kHz mono WAV; "-" records nothing). CMD's exit status is the
# script's. The server, its runtime folder and the recorder are gone when the script ends.
set -euo pipefail
recording="$1"
shift
run="$(mktemp -d)"
chmod 700 "$run"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$run" HOME="$run"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
  -L "module-null-sink sink_name=nullsink" -L "module-native-protocol-unix auth-anonymous=1" \
  -L module-always-sink >"$run/pulseaudio.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start" >&2; cat "$run/pulseaudio.log" >&2; exit 1; }
recorder=""
if [ "$recording" != "-" ]; then
  parec -d nullsink.monitor --rate=16000 --channels=1 --format=s16le --file-format=wav "$recording" &
  recorder=$!
  pids+=($recorder)
fi
status=0
"$@" || status=$?
if [ -n "$recorder" ]; then
  kill -INT "$recorder" 2>/dev/null || true
  wait "$recorder" 2>/dev/null || true
fi
exit "$status"
