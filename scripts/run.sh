#!/usr/bin/env bash
# The run command: installs what is missing, builds TallSnap and starts it under Wine in a
# working folder of its own. Without a display it runs on a private X display instead and
# saves a screenshot.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
trap stop_started EXIT

prepare || exit 1
build_preset win64 || exit 1
build_preset win32 || exit 1

work="$ROOT/run/work"
mkdir -p "$work"
cp "$ROOT/build/win64/TallSnap.exe" "$work/"
log "working folder $work (the shipped 32-bit build is $ROOT/build/win32/TallSnap.exe)"

own_display=0
if [ -z "${DISPLAY:-}" ]; then
  own_display=1
  start_xvfb || exit 1
fi
start_wine || exit 1

(cd "$work" && exec "$WINE64" TallSnap.exe >/dev/null 2>&1 </dev/null) &
app=$!
STARTED_PIDS+=($app)
if ! wait_for 30 xdotool search --name '^TallSnap'; then
  log "the TallSnap window did not appear"
  exit 1
fi

if [ "$own_display" -eq 1 ]; then
  shots="$ROOT/run/screenshots"
  mkdir -p "$shots"
  sleep 1  # let the first paint settle before the picture is taken
  import -display "$DISPLAY" -window root "$shots/start-layout.png"
  echo "TallSnap is running on its own display $DISPLAY; screenshot: $shots/start-layout.png"
else
  echo "TallSnap is running on $DISPLAY; close its window to end."
  wait "$app"
fi
