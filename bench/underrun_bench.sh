#!/usr/bin/env bash
# Gaps a listener hears while every core is busy. The demo station plays its live stream on
# free loopback ports; stress-ng (or plain busy loops where it is missing) loads every core at
# normal priority; ostra-play, and mpv and ffplay where installed, play the stream for S seconds
# each. Prints underruns per minute for each player, with the load the machine was under.
#
#   bash bench/underrun_bench.sh [build-dir] [seconds]      (defaults: build, 60)
set -euo pipefail

build=${1:-build}
seconds=${2:-60}
station="$build/tools/station/ostra-station"
play="$build/tools/player/ostra-play"
for binary in "$station" "$play"; do
  [ -x "$binary" ] || { echo "underrun_bench: $binary is not built" >&2; exit 1; }
done

port=$((20000 + RANDOM % 20000))
url="http://127.0.0.1:$port/"
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wait 2>/dev/null || true; }
trap cleanup EXIT

"$station" --quiet --live-port "$port" --web-port $((port + 1)) >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  # The web port answers and ends; the live one never ends (and ignores Range).
  curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$((port + 1))/adXML.plist" && break
  sleep 0.1
done

cores=$(nproc)
load() {
  if command -v stress-ng >/dev/null; then
    stress-ng --cpu "$cores" --timeout "$((seconds + 5))s" --quiet &
  else
    for _ in $(seq "$cores"); do (end=$((SECONDS + seconds + 5)); while [ $SECONDS -lt $end ]; do :; done) & done
  fi
}

perMinute() { awk -v n="$1" -v s="$seconds" 'BEGIN { printf "%.1f", n * 60 / s }'; }

echo "underrun_bench: $seconds s per player, $cores cores loaded by $(command -v stress-ng >/dev/null && echo stress-ng || echo busy loops)"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

load
loader=$!
output=$(timeout $((seconds + 30)) "$play" --silent --quiet --stop-after "$seconds" "$url" 2>&1 || true)
wait "$loader" 2>/dev/null || true
count=$(printf '%s\n' "$output" | sed -n 's/^underruns: //p')
printf '  %-10s %s underruns in %s s, %s a minute\n' "ostra-play" "${count:-?}" "$seconds" "$(perMinute "${count:-0}")"

if command -v mpv >/dev/null; then
  load
  loader=$!
  # mpv warns once each time its audio output runs dry; its null output keeps a device's
  # timing, so the count means what it would on a sound card.
  output=$(timeout $((seconds + 30)) mpv --no-video --no-config --ao=null --length="$seconds" \
    --no-terminal --msg-level=all=warn --log-file=/dev/stdout "$url" 2>&1 || true)
  wait "$loader" 2>/dev/null || true
  count=$(printf '%s\n' "$output" | grep -c "Audio device underrun detected" || true)
  printf '  %-10s %s underruns reported in %s s, %s a minute\n' "mpv" "$count" "$seconds" "$(perMinute "$count")"
else
  printf '  %-10s not installed\n' "mpv"
fi
if command -v ffplay >/dev/null; then
  printf '  %-10s installed, but it reports no underruns of its own; not measured\n' "ffplay"
else
  printf '  %-10s not installed\n' "ffplay"
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
