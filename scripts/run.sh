#!/usr/bin/env bash
# Installs the packages, builds, and runs the application against the bundled demo station.
#   bash scripts/run.sh [app options]      (e.g. --headless, --demo-seconds 10)
# The demo station serves on 127.0.0.1 (live stream on port 8170, feed, advertisement list and
# programmes on 8171) in the background and stops when the application exits. Its first start
# makes the station's audio, which takes about a minute; later starts reuse it.
# OSTRA_BUILD_DIR names the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=${OSTRA_BUILD_DIR:-build}
bash scripts/install-deps.sh
cmake -S . -B "$build_dir" -G Ninja
cmake --build "$build_dir" -j"$(nproc)" --target ostra-station OstraRadio

# ---------------------------------------------------------------------------------------------
# The demo station.

readonly demo_live_url="http://127.0.0.1:8170/"
readonly demo_feed_url="http://127.0.0.1:8171/dev/feed/"
station_pid=""

# The endpoints this build compiled in; a station that builds its own copy points them at its
# own host, and then there is no demo station to start.
compiled_url() {
  sed -n "s/^$1:STRING=//p" "$build_dir/CMakeCache.txt"
}

port_answers() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

stop_station() {
  if [ -n "$station_pid" ] && kill -0 "$station_pid" 2>/dev/null; then
    kill -TERM "$station_pid" 2>/dev/null || true
    wait "$station_pid" 2>/dev/null || true
    echo "run: demo station stopped"
  fi
  station_pid=""
}
trap stop_station EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

start_station() {
  if [ "$(compiled_url OSTRA_LIVE_STREAM_URL)" != "$demo_live_url" ] ||
     [ "$(compiled_url OSTRA_FEED_URL)" != "$demo_feed_url" ]; then
    echo "run: this build's endpoints point at another station; not starting the demo station"
    return 0
  fi
  if port_answers 8170 && port_answers 8171; then
    echo "run: a station already answers on 127.0.0.1:8170 and :8171; using it"
    return 0
  fi
  local log="$build_dir/station.log"
  "$build_dir/tools/station/ostra-station" >/dev/null 2>"$log" &
  station_pid=$!
  echo "run: starting the demo station (log: $log)"
  # Its ports open only once its audio is ready, so their answer means it is serving.
  local deadline=$((SECONDS + 900))
  until port_answers 8170 && port_answers 8171; do
    if ! kill -0 "$station_pid" 2>/dev/null; then
      wait "$station_pid" 2>/dev/null || true
      station_pid=""
      echo "run: the demo station did not start:" >&2
      tail -n 20 "$log" >&2
      exit 1
    fi
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "run: the demo station did not open its ports in time:" >&2
      tail -n 20 "$log" >&2
      exit 1
    fi
    sleep 0.2
  done
  echo "run: demo station on air: live $demo_live_url, feed $demo_feed_url"
}

start_station

# ---------------------------------------------------------------------------------------------
# The application, in the foreground. With a display it opens its window and plays through the
# sound device; without one (a server, CI) it runs its headless demo on Qt's offscreen platform
# for about twenty seconds and prints what happened. Where there is no sound device it plays
# silently. The EXIT trap stops the station when it returns; this command exits with its status.

app="$build_dir/app/OstraRadio"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "run: starting the application (close its window to stop)"
else
  echo "run: no display: running the application headless for about 20 s"
fi
status=0
"$app" "$@" || status=$?
echo "run: the application exited with status $status"
exit "$status"
