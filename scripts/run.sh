#!/usr/bin/env bash
# Sets everything up, builds the Release bundle and launches velmo.
#
# With a display, velmo runs on it (arguments are passed on). Without one, it
# runs on a private Xvfb display with a private session bus and openbox, the
# script waits for the window (shown at the first frame), writes a
# screenshot, says where, and stops everything it started.
#
# VELMO_BUILD_DIR (default build/release) and VELMO_SCREENSHOT (default
# <build dir>/velmo-screenshot.png) override the locations.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

build_dir=${VELMO_BUILD_DIR:-build/release}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target velmo
velmo="$build_dir/bundle/velmo"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$velmo" "$@"
fi

screenshot=${VELMO_SCREENSHOT:-$build_dir/velmo-screenshot.png}
work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

wait_for_file() {
  for _ in $(seq 150); do [ -s "$1" ] && return 0; sleep 0.1; done
  return 1
}

# Display: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp \
  3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for_file "$work/display" || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

# A private session bus, so velmo can be the single instance.
dbus-daemon --session --nofork --address="unix:dir=$work" --print-address=3 \
  3>"$work/bus" 2>"$work/dbus.log" &
pids+=($!)
wait_for_file "$work/bus" || { echo "dbus-daemon did not start" >&2; exit 1; }
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$work/bus")
export NO_AT_BRIDGE=1  # no accessibility bus to start and leave behind

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)

"$velmo" "$@" >"$work/velmo.log" 2>&1 &
velmo_pid=$!
pids+=("$velmo_pid")

# The window maps only once the Flutter view has its first frame.
if ! timeout 30 xdotool search --sync --onlyvisible --name '^Velmo Messenger$' \
     >/dev/null 2>&1; then
  echo "velmo did not show its window; its log:" >&2
  cat "$work/velmo.log" >&2
  exit 1
fi
sleep 1  # let the window manager draw its frame
mkdir -p "$(dirname "$screenshot")"
import -window root "$screenshot"
kill -0 "$velmo_pid" 2>/dev/null || { echo "velmo exited early" >&2; exit 1; }
echo "velmo showed its window on a private display (stopped again);"
echo "screenshot: $screenshot"
