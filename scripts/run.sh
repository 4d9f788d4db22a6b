#!/usr/bin/env bash
# The run command: installs what is missing, makes the release package and starts the TallSnap
# unpacked from it under Wine, in a working folder of its own. Without a display it shows the main
# job instead: one capture made on a private X display, whose tall image and step screenshots it
# leaves in run/demo. On a machine that runs no 32-bit program, the x86_64 build of the same
# sources takes the 32-bit programs' place in the working folder.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
trap stop_started EXIT

prepare || exit 1
probe_32bit
zip_file=$(bash "$ROOT/scripts/package.sh" | tail -n 1) && [ -f "$zip_file" ] || { log "no release package"; exit 1; }

# The program and its converters as users get them: the release package unpacked.
rm -rf "$ROOT/run/work"
mkdir -p "$ROOT/run/work"
unzip -q "$zip_file" -d "$ROOT/run/work" || exit 1
work=$(find "$ROOT/run/work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
log "working folder $work, unpacked from $zip_file"

# Builds the named targets of a preset, its output kept in a log shown only on failure.
build_targets() {
  local out="$ROOT/build/$1-run.log"
  build_preset "$@" >"$out" 2>&1 || { cat "$out"; return 1; }
}

if [ "$RUNS_32BIT" -eq 1 ]; then
  wine=$WINE32 driver=win32-tests
else
  log "starting the x86_64 TallSnap instead of the 32-bit one: $NO_32BIT_WHY"
  wine=$WINE64 driver=win64
  build_targets win64 TallSnap Kelvo Tarvin || exit 1
  for exe in TallSnap Kelvo Tarvin; do
    cp "$ROOT/build/win64/$exe.exe" "$work/$exe.exe" || exit 1
  done
fi

own_display=0
if [ -z "${DISPLAY:-}" ]; then
  own_display=1
  # The demonstration's driver: the end-to-end test program of the same pointer size.
  build_targets "$driver" e2e_test || exit 1
  start_xvfb || exit 1
fi
start_wine || exit 1

if [ "$own_display" -eq 1 ]; then
  # No display: a demonstration of the main job on the private one. The end-to-end test's
  # capture drives the unpacked TallSnap with the mouse and keyboard, as a person would: it starts
  # the scroll target, drags a range over it, scrolls it, finishes, and answers the save dialog.
  demo="$ROOT/run/demo"
  rm -rf "$demo"
  mkdir -p "$demo"
  log "demonstration on $DISPLAY"
  if TALLSNAP_ARTEFACTS="$demo" TALLSNAP_DEMO_OUT="$demo" TALLSNAP_PROGRAMS_DIR="$work" timeout 300 \
      "$wine" "$ROOT/build/$driver/e2e_test.exe" --gtest_filter=EndToEnd.Demonstration </dev/null \
      >"$demo/log.txt" 2>&1 && [ -f "$demo/tall-image.png" ]; then
    grep -a '^fidelity' "$demo/log.txt" | tr -d '\r'
    echo "The tall image and the screenshots of each step are in $demo:"
    ls -1 "$demo" | grep -v log.txt | sed 's/^/  /'
    exit 0
  fi
  log "the demonstration failed; see $demo/log.txt"
  exit 1
fi

(cd "$work" && exec "$wine" TallSnap.exe >/dev/null 2>&1 </dev/null) &
app=$!
STARTED_PIDS+=($app)
if ! wait_for 30 xdotool search --name '^TallSnap'; then
  log "the TallSnap window did not appear"
  exit 1
fi
echo "TallSnap is running on $DISPLAY; close its window to end."
wait "$app"
