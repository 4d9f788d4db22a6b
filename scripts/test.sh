#!/usr/bin/env bash
# The test command: installs what is missing, builds the presets, runs the native tests, then the
# Win32 tests under Wine on a private X display: those of the 32-bit build (the shipped pointer
# size, its end-to-end captures driving the programs unpacked from the release package) and the
# unit and program tests of the x86_64 build with the mixed pair; then the cases of large screens
# on 3840 x 2160 and 2560 x 1440 ones, and the main window and one capture of the 32-bit build on
# a display scaled to 150 % (144 DPI). Exits non-zero on any failure.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
trap stop_started EXIT

prepare || exit 1

declare -A build_seconds
for preset in native win32 win32-tests win64; do
  start=$SECONDS
  build_preset "$preset" || { log "build of $preset failed"; exit 1; }
  build_seconds[$preset]=$((SECONDS - start))
done

status=0
log "release package"
package_status=passed
if package_dir=$(bash "$ROOT/tests/package_check.sh"); then
  export TALLSNAP_PACKAGE_DIR="$package_dir"  # the programs the 32-bit end-to-end tests run
else
  package_status=failed
  status=1
fi
export TALLSNAP_WIN64_DIR="$ROOT/build/win64"  # its Kelvo.exe beside the 32-bit TallSnap.exe
# Programs a Wine test left running, each named by the script that runs the test.
export TALLSNAP_LEFTOVERS="$ROOT/build/leftovers.log"
rm -f "$TALLSNAP_LEFTOVERS"

log "native tests"
start=$SECONDS
ctest --preset native --timeout 120 -j2 2>&1 | tee "$ROOT/build/native-tests.log" | tail -n 4
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
native_seconds=$((SECONDS - start))

# Runs the Wine tests of a preset (more ctest arguments may follow), its output kept in $2.
declare -A wine_seconds
wine_tests() {
  local preset=$1 logfile=$2
  shift 2
  local start=$SECONDS
  ctest --preset "$preset" --timeout 300 -j1 "$@" 2>&1 | tee "$logfile" | tail -n 4
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  wine_seconds[$logfile]=$((SECONDS - start))
}

for preset in win32-tests win64; do
  rm -rf "$ROOT/build/$preset/e2e-artefacts"
  mkdir -p "$ROOT/build/$preset/e2e-artefacts"
done

# The cases about large screens need a screen of their own size; every other test runs on the
# usual one.
largest=TheLargestCaptureOnA4kScreen
whole_screen=TheRangeWindowShowsTheWholeScreen
start_xvfb || exit 1
start_wine || exit 1
log "Win32 tests of the 32-bit build under Wine"
wine_tests win32-tests "$ROOT/build/win32-tests.log" -E "$largest|$whole_screen"
# The end-to-end cases prove the behaviour of the program we ship: the x86_64 build runs its unit
# and program tests, where pointer-size faults show, and the mixed pair of the two builds.
log "Win32 tests of the x86_64 build under Wine"
wine_tests win64 "$ROOT/build/win64-tests.log" -E 'EndToEnd\.'
wine_tests win64 "$ROOT/build/win64-mixed.log" -R 'EndToEnd\.AConverterOfTheOtherPointerSize$'

# Runs the named end-to-end cases of the 32-bit build, printing their own output (figures), and
# checks each ran and passed.
large_screen_tests() {
  local logfile=$1
  shift
  local pattern
  pattern="^win32\.EndToEnd\.($(IFS='|'; echo "$*"))\$"
  wine_tests win32-tests "$logfile" -R "$pattern" -V
  for name in "$@"; do
    grep -qE "Test +#[0-9]+: win32\.EndToEnd\.$name \.+ +Passed" "$logfile" || {
      log "$name did not run and pass"
      status=1
    }
  done
}

log "the 32-bit build on a 3840 x 2160 screen"
stop_started
start_xvfb 3840x2160 || exit 1
start_wine || exit 1
largest_log="$ROOT/build/win32-largest.log"
large_screen_tests "$largest_log" "$largest" "$whole_screen"

log "the 32-bit build on a 2560 x 1440 screen"
stop_started
start_xvfb 2560x1440 || exit 1
start_wine || exit 1
qhd_log="$ROOT/build/win32-2560.log"
large_screen_tests "$qhd_log" "$whole_screen"

# A display scaled to 150 %: a Wine prefix of its own whose desktop has 144 pixels per logical
# inch. The main window's layouts must fit at that scale, and a capture stay pixel-exact.
log "the 32-bit build on a display scaled to 150 % (144 DPI)"
stop_started
start_xvfb || exit 1
start_wine 144 || exit 1
scaled_log="$ROOT/build/win32-144dpi.log"
scaled_tests='^win32\.(MainWindowTest\.|EndToEnd\.CancelMidwayWritesNothing$)'
wine_tests win32-tests "$scaled_log" -R "$scaled_tests" -V
for name in MainWindowTest.LayoutsFollowTheButtons EndToEnd.CancelMidwayWritesNothing; do
  grep -qE "Test +#[0-9]+: win32\.${name//./\\.} \.+ +Passed" "$scaled_log" || {
    log "$name at 144 DPI did not run and pass"
    status=1
  }
done
stop_started

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -n 1; }
logs=("$ROOT/build/native-tests.log" "$ROOT/build/win32-tests.log" "$ROOT/build/win64-tests.log"
  "$ROOT/build/win64-mixed.log" "$largest_log" "$qhd_log" "$scaled_log")
echo
echo "== summary =="
echo "build: native ${build_seconds[native]} s, win32 ${build_seconds[win32]} s," \
  "win32-tests ${build_seconds[win32-tests]} s, win64 ${build_seconds[win64]} s"
echo "native tests: $(summary "$ROOT/build/native-tests.log") (${native_seconds} s)"
echo "32-bit build under Wine: $(summary "$ROOT/build/win32-tests.log") (${wine_seconds[$ROOT/build/win32-tests.log]} s)"
echo "x86_64 build under Wine: $(summary "$ROOT/build/win64-tests.log") (${wine_seconds[$ROOT/build/win64-tests.log]} s)," \
  "the mixed pair: $(summary "$ROOT/build/win64-mixed.log") (${wine_seconds[$ROOT/build/win64-mixed.log]} s)"
echo "3840 x 2160 screen: $(summary "$largest_log") (${wine_seconds[$largest_log]} s)"
grep -a -oE '(memory|fidelity) TheLargest.*|drag TheRangeWindow.*' "$largest_log" | tr -d '\r' | sed 's/^/  /'
echo "2560 x 1440 screen: $(summary "$qhd_log") (${wine_seconds[$qhd_log]} s)"
grep -a -oE 'drag TheRangeWindow.*' "$qhd_log" | tr -d '\r' | sed 's/^/  /'
echo "display scaled to 150 % (144 DPI): $(summary "$scaled_log") (${wine_seconds[$scaled_log]} s)"
grep -a -oE '(fidelity|rows) CancelMidway.*' "$scaled_log" | tr -d '\r' | sed 's/^/  /'
if [ -s "$TALLSNAP_LEFTOVERS" ]; then
  echo "programs left running after their test: $(wc -l <"$TALLSNAP_LEFTOVERS")"
  head -n 20 "$TALLSNAP_LEFTOVERS" | sed 's/^/  /'
fi
echo "release package: $package_status ($ROOT/dist)"
echo "screenshots of each end-to-end step: $ROOT/build/win32-tests/e2e-artefacts, $ROOT/build/win64/e2e-artefacts" \
  "(those at 144 DPI, each main-window layout among them, named *-144dpi-*)"
echo "whole run: $SECONDS s"
passed=$(cat "${logs[@]}" | grep -cE ' Passed +[0-9.]+ sec')
failed=$(cat "${logs[@]}" | grep -cE '\*\*\*(Failed|Timeout|Exception)|Not Run')
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
