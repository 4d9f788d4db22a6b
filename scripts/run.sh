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

# The program and its converters in one folder, as they are installed.
work="$ROOT/run/work"
mkdir -p "$work"
cp "$ROOT/build/win64/TallSnap.exe" "$ROOT/build/win64/Kelvo.exe" "$ROOT/build/win64/Tarvin.exe" "$work/"
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
  # Ready once the converter's window is there (the range button is enabled right after).
  wait_for 30 xdotool search --name '変換だぞ' || log "the converter's window did not appear"
  main=$(xdotool search --name '^TallSnap' | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$main")"
  import -display "$DISPLAY" -window root "$shots/start-layout.png"
  # "見えるようにしたら押してください。" shows the remembered format in the range layout.
  xdotool mousemove $((X + 330)) $((Y + 23 + 30)) click 1
  sleep 0.5
  import -display "$DISPLAY" -window root "$shots/range-layout.png"
  echo "TallSnap is running on its own display $DISPLAY; screenshots: $shots/start-layout.png $shots/range-layout.png"
else
  echo "TallSnap is running on $DISPLAY; close its window to end."
  wait "$app"
fi
