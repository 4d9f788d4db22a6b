#!/usr/bin/env bash
# The run command: installs what is missing, builds TallSnap and starts it under Wine in a
# working folder of its own. Without a display it shows the main job instead: one capture made
# on a private X display, whose tall image and step screenshots it leaves in run/demo.
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

if [ "$own_display" -eq 1 ]; then
  # No display: a demonstration of the main job on the private one. The end-to-end test's
  # capture drives TallSnap with the mouse and keyboard, as a person would: it starts the scroll
  # target, drags a range over it, scrolls it, finishes, and answers the save dialog.
  demo="$ROOT/run/demo"
  rm -rf "$demo"
  mkdir -p "$demo"
  log "demonstration on $DISPLAY"
  if TALLSNAP_ARTEFACTS="$demo" TALLSNAP_DEMO_OUT="$demo" timeout 300 \
      "$WINE64" "$ROOT/build/win64/e2e_test.exe" --gtest_filter=EndToEnd.Demonstration </dev/null \
      >"$demo/log.txt" 2>&1 && [ -f "$demo/tall-image.png" ]; then
    grep -a '^fidelity' "$demo/log.txt" | tr -d '\r'
    echo "The tall image and the screenshots of each step are in $demo:"
    ls -1 "$demo" | grep -v log.txt | sed 's/^/  /'
    exit 0
  fi
  log "the demonstration failed; see $demo/log.txt"
  exit 1
fi

(cd "$work" && exec "$WINE64" TallSnap.exe >/dev/null 2>&1 </dev/null) &
app=$!
STARTED_PIDS+=($app)
if ! wait_for 30 xdotool search --name '^TallSnap'; then
  log "the TallSnap window did not appear"
  exit 1
fi
echo "TallSnap is running on $DISPLAY; close its window to end."
wait "$app"
