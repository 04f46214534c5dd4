#!/usr/bin/env bash
# What the app costs while it plays, and how soon it sounds. The demo station runs on free loopback ports and the app
# plays its live tab in a real X server (Xvfb), with the sponsor line scrolling and, after their
# fade, the controls hidden; its CPU is read from /proc over S seconds: first on Qt's offscreen
# platform, then in the X server with the window shown, then with it unmapped (as a minimised
# window is). ostra-play plays the same stream to
# a silent output for the same time, for the engine's own share. First, process start to the
# first sound: the app (its headless run, which starts the live stream as the window does, half
# a second after the interface is up) against ostra-play on the same stream.
#
#   bash bench/app_cpu_bench.sh [build-dir] [seconds]      (defaults: build, 30)
set -euo pipefail

build=${1:-build}
seconds=${2:-30}
station="$build/tools/station/ostra-station"
app="$build/app/OstraRadio"
play="$build/tools/player/ostra-play"
for binary in "$station" "$app" "$play"; do
  [ -x "$binary" ] || { echo "app_cpu_bench: $binary is not built" >&2; exit 1; }
done
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "app_cpu_bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

port=$((20000 + RANDOM % 20000))
display=":$((100 + RANDOM % 800))"
home=$(mktemp -d /tmp/ostra-app-bench-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT

"$station" --quiet --live-port "$port" --web-port $((port + 1)) >/dev/null 2>&1 &
pids+=($!)
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  # The web port answers and ends; the live one never ends (and ignores Range).
  curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$((port + 1))/adXML.plist" && break
  sleep 0.1
done
# On a new build the station first makes its audio (about a minute) and the live stream has
# nothing to send until then: measuring before it does would time an app that never plays.
liveReady=0
for _ in $(seq 300); do
  if [ "$(curl -s --max-time 1 "http://127.0.0.1:$port/" 2>/dev/null | head -c 1 | wc -c)" -gt 0 ]; then
    liveReady=1
    break
  fi
  sleep 0.5
done
[ "$liveReady" = 1 ] || { echo "app_cpu_bench: the station's live stream sent nothing" >&2; exit 1; }
sleep 1

ticks=$(getconf CLK_TCK)
# User and system time of the whole process so far, in seconds.
cpuSeconds() { awk -v hz="$ticks" '{ printf "%.3f", ($14 + $15) / hz }' "/proc/$1/stat"; }
# CPU over `seconds` of the running process, as a percentage of one core.
measure() {
  local pid=$1 before after
  before=$(cpuSeconds "$pid")
  sleep "$seconds"
  after=$(cpuSeconds "$pid")
  awk -v a="$after" -v b="$before" -v s="$seconds" 'BEGIN { printf "%.2f %%  (%.2f s CPU in %d s)", 100 * (a - b) / s, a - b, s }'
}
# Context switches of the main thread (the one that animates and paints): how often it wakes.
wakeups() { awk '/ctxt_switches/ { n += $2 } END { print n }' "/proc/$1/task/$1/status"; }
# One line of the report: CPU and main-thread wake-ups of process $2 over `seconds`.
report() {
  local what=$1 pid=$2 w0 w1 cpu
  w0=$(wakeups "$pid")
  cpu=$(measure "$pid")
  w1=$(wakeups "$pid")
  printf '  %-34s %s, %s main-thread wake-ups a second\n' "$what" "$cpu" $(( (w1 - w0) / seconds ))
}

echo "app_cpu_bench: $seconds s each; the demo station's live stream; Xvfb $display"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

live="http://127.0.0.1:$port/"
stations=(--live-url "$live" --feed-url "http://127.0.0.1:$((port + 1))/dev/feed/"
          --ad-url "http://127.0.0.1:$((port + 1))/adXML.plist")
now() { date +%s.%N; }
millisSince() { awk -v a="$(now)" -v b="$1" 'BEGIN { printf "%.0f ms", 1000 * (a - b) }'; }
for run in 1 2 3; do
  started=$(now)
  sounded=$(HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
    "$app" --headless --demo-seconds 3 "${stations[@]}" 2>/dev/null |
    while read -r line; do case "$line" in *"live: PLAYING"*) millisSince "$started"; break ;; esac; done || true)
  started=$(now)
  "$play" --speed 0 --first-sample "$live" >/dev/null 2>&1 || true
  engine=$(millisSince "$started")
  printf '  %-34s %s (ostra-play, start to first sample and exit: %s)\n' \
    "start to first sound, run $run" "${sounded:-no sound}" "$engine"
done

# On Qt's offscreen platform (the headless run, its window painted into memory): what the app's
# own work costs, without the X server's share of each repaint. The headless run turns to the
# programmes tab at two fifths of its time; with an hour the live tab plays throughout.
HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=offscreen \
  "$app" --headless --demo-seconds 3600 "${stations[@]}" >/dev/null 2>&1 &
appPid=$!
pids+=("$appPid")
sleep 10
report "OstraRadio, offscreen" "$appPid"
kill "$appPid" 2>/dev/null || true

HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache" \
XDG_DATA_HOME="$home/data" DISPLAY="$display" QT_QPA_PLATFORM=xcb \
  "$app" "${stations[@]}" >/dev/null 2>&1 &
appPid=$!
pids+=("$appPid")
# Past the start and the controls' fade: the line scrolls, nothing else moves.
sleep 10
report "OstraRadio, window shown" "$appPid"

window=$(DISPLAY="$display" xdotool search --pid "$appPid" --onlyvisible 2>/dev/null | head -1 || true)
if [ -n "$window" ]; then
  DISPLAY="$display" xdotool windowunmap "$window"
  sleep 2
  report "OstraRadio, window unmapped" "$appPid"
else
  printf '  %-34s window not found\n' "OstraRadio, window unmapped"
fi
kill "$appPid" 2>/dev/null || true

"$play" --silent --quiet --stop-after $((seconds + 5)) "http://127.0.0.1:$port/" >/dev/null 2>&1 &
playPid=$!
pids+=("$playPid")
sleep 3
report "ostra-play --silent (engine only)" "$playPid"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
