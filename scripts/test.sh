#!/usr/bin/env bash
# The test command: installs what is missing, builds the presets, checks that the program's folders
# use each other one way only, runs the native tests, then the Win32 tests under Wine on a private X
# display: those of the 32-bit build (the shipped pointer size, its end-to-end captures driving the
# programs unpacked from the release package) and the unit and program tests of the x86_64 build
# with the mixed pair; then the cases of large screens on 3840 x 2160 and 2560 x 1440 ones, and the
# main window and one capture on a display scaled to 150 % (144 DPI). On a machine that runs no
# 32-bit program, the end-to-end cases run on the x86_64 build instead and the mixed pair is left
# out. Exits non-zero on any failure.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
trap stop_started EXIT

prepare || exit 1
probe_32bit
if [ "$RUNS_32BIT" -eq 1 ]; then
  log "32-bit programs run here"
else
  log "32-bit programs will not run ($NO_32BIT_WHY): the end-to-end cases run on the x86_64 build"
fi

declare -A build_seconds
for preset in native win32 win32-tests win64; do
  start=$SECONDS
  build_preset "$preset" || { log "build of $preset failed"; exit 1; }
  build_seconds[$preset]=$((SECONDS - start))
done

status=0
# The program's folders use each other one way only (the README's layout).
log "folders and their includes"
folders_status=passed
bash "$ROOT/scripts/folder_includes.sh" >"$ROOT/build/folder-includes.log" 2>&1 || { folders_status=failed; status=1; }

log "release package"
package_status=passed
if package_dir=$(bash "$ROOT/tests/package_check.sh"); then
  export TALLSNAP_PACKAGE_DIR="$package_dir"  # the shipped programs, read by the tests of both builds
else
  package_status=failed
  status=1
fi
export TALLSNAP_WIN64_DIR="$ROOT/build/win64"  # its Kelvo.exe beside the 32-bit TallSnap.exe
# Programs a Wine test left running, each named by the script that runs the test.
export TALLSNAP_LEFTOVERS="$ROOT/build/leftovers.log"
rm -f "$TALLSNAP_LEFTOVERS"

# Which build the end-to-end cases drive, decided here and nowhere else: the program we ship,
# unpacked from the release package, or, on a machine that runs no 32-bit program, the x86_64
# programs built from the same sources. The other build's tests drive the programs built beside
# them.
if [ "$RUNS_32BIT" -eq 1 ]; then
  e2e_preset=win32-tests e2e_prefix=win32 e2e_build="the 32-bit build" e2e_programs=$package_dir
else
  e2e_preset=win64 e2e_prefix=win64 e2e_build="the x86_64 build" e2e_programs="$ROOT/build/win64"
fi

# Every section's label, log, time and whether its tests could start, for the summary.
labels=() logs=() times=() states=()

# Runs one section of tests: LABEL PRESET LOG, then more ctest arguments. A test program that
# cannot run leaves ctest unable to list its tests; they would vanish from the count, so the
# section is marked as one whose tests could not start, and the command fails.
section() {
  local label=$1 preset=$2 logfile=$3
  shift 3
  local start=$SECONDS programs=()
  [ "$preset" = "$e2e_preset" ] && programs=("TALLSNAP_PROGRAMS_DIR=$e2e_programs")
  env "${programs[@]}" ctest --preset "$preset" --output-on-failure "$@" 2>&1 | tee "$logfile" | tail -n 4
  local code=${PIPESTATUS[0]} state=ran
  if grep -qE 'Error running test executable|CMake Error|No tests were found' "$logfile" ||
    ! grep -qE '^[0-9]+% tests passed' "$logfile"; then
    state="could not start"
  fi
  [ "$code" -eq 0 ] && [ "$state" = ran ] || status=1
  labels+=("$label") logs+=("$logfile") times+=($((SECONDS - start))) states+=("$state")
}
wine_section() { section "$1" "$2" "$3" --timeout 300 -j1 "${@:4}"; }

# Checks that each named test of the end-to-end build ran and passed in the log $1.
expect_passed() {
  local logfile=$1 name
  shift
  for name in "$@"; do
    grep -qE "Test +#[0-9]+: $e2e_prefix\.${name//./\\.} \.+ +Passed" "$logfile" || {
      log "$name did not run and pass on $e2e_build"
      status=1
    }
  done
}

log "native tests"
section "native tests" native "$ROOT/build/native-tests.log" --timeout 120 -j2

for preset in win32-tests win64; do
  rm -rf "$ROOT/build/$preset/e2e-artefacts"
  mkdir -p "$ROOT/build/$preset/e2e-artefacts"
done

# The cases about large screens need a screen of their own size; every other test runs on the
# usual one.
largest=TheLargestCaptureOnA4kScreen
whole_screen=TheRangeWindowShowsTheWholeScreen
mixed='EndToEnd\.AConverterOfTheOtherPointerSize$'
start_xvfb || exit 1
start_wine || exit 1
if [ "$RUNS_32BIT" -eq 1 ]; then
  log "Win32 tests of the 32-bit build under Wine"
  wine_section "32-bit build under Wine" win32-tests "$ROOT/build/win32-tests.log" -E "$largest|$whole_screen"
  # The end-to-end cases prove the behaviour of the program we ship: the x86_64 build runs its
  # unit and program tests, where pointer-size faults show, and the mixed pair of the two builds.
  log "Win32 tests of the x86_64 build under Wine"
  wine_section "x86_64 build under Wine" win64 "$ROOT/build/win64-tests.log" -E 'EndToEnd\.'
  wine_section "the mixed pair" win64 "$ROOT/build/win64-mixed.log" -R "$mixed"
else
  log "Win32 tests of the x86_64 build under Wine, the end-to-end cases among them"
  wine_section "x86_64 build under Wine" win64 "$ROOT/build/win64-tests.log" -E "$largest|$whole_screen|$mixed"
fi

# Runs the named end-to-end cases, printing their own output (figures), and checks each ran and
# passed.
large_screen_tests() {
  local label=$1 logfile=$2
  shift 2
  wine_section "$label" "$e2e_preset" "$logfile" -R "^$e2e_prefix\.EndToEnd\.($(IFS='|'; echo "$*"))\$" -V
  expect_passed "$logfile" "${@/#/EndToEnd.}"
}

log "$e2e_build on a 3840 x 2160 screen"
stop_started
start_xvfb 3840x2160 || exit 1
start_wine || exit 1
largest_log="$ROOT/build/$e2e_prefix-largest.log"
TALLSNAP_SCREEN=3840x2160 large_screen_tests "3840 x 2160 screen" "$largest_log" "$largest" "$whole_screen"

log "$e2e_build on a 2560 x 1440 screen"
stop_started
start_xvfb 2560x1440 || exit 1
start_wine || exit 1
qhd_log="$ROOT/build/$e2e_prefix-2560.log"
TALLSNAP_SCREEN=2560x1440 large_screen_tests "2560 x 1440 screen" "$qhd_log" "$whole_screen"

# A display scaled to 150 %: a Wine prefix of its own whose desktop has 144 pixels per logical
# inch. The main window's layouts must fit at that scale, and a capture stay pixel-exact.
log "$e2e_build on a display scaled to 150 % (144 DPI)"
stop_started
start_xvfb || exit 1
start_wine 144 || exit 1
scaled_log="$ROOT/build/$e2e_prefix-144dpi.log"
wine_section "display scaled to 150 % (144 DPI)" "$e2e_preset" "$scaled_log" \
  -R "^$e2e_prefix\.(MainWindowTest\.|EndToEnd\.CancelMidwayWritesNothing$)" -V
expect_passed "$scaled_log" MainWindowTest.LayoutsFollowTheButtons EndToEnd.CancelMidwayWritesNothing
stop_started

# The figures each section's own cases print, shown under its line.
figures() {
  case $1 in
    "$largest_log") grep -a -oE '(memory|fidelity) TheLargest.*|drag TheRangeWindow.*' "$1" ;;
    "$qhd_log") grep -a -oE 'drag TheRangeWindow.*' "$1" ;;
    "$scaled_log") grep -a -oE '(fidelity|rows) CancelMidway.*' "$1" ;;
  esac | tr -d '\r' | sed 's/^/  /'
}

echo
echo "== summary =="
echo "build: native ${build_seconds[native]} s, win32 ${build_seconds[win32]} s," \
  "win32-tests ${build_seconds[win32-tests]} s, win64 ${build_seconds[win64]} s"
not_started=()
for i in "${!labels[@]}"; do
  if [ "${states[i]}" = ran ]; then
    echo "${labels[i]}: $(grep -E '^[0-9]+% tests passed' "${logs[i]}" | tail -n 1) (${times[i]} s)"
    figures "${logs[i]}"
  else
    not_started+=("${labels[i]}")
    echo "${labels[i]}: TESTS COULD NOT START (${times[i]} s; ${logs[i]})"
    grep -a -A9 -m1 -E 'Error running test executable|No tests were found' "${logs[i]}" |
      grep -E 'Error running|No tests|Path:|Result:|[Ee]rror' | head -n 4 | sed 's/^ */  /'
  fi
done
if [ -s "$TALLSNAP_LEFTOVERS" ]; then
  echo "programs left running after their test: $(wc -l <"$TALLSNAP_LEFTOVERS")"
  head -n 20 "$TALLSNAP_LEFTOVERS" | sed 's/^/  /'
fi
echo "release package: $package_status ($ROOT/dist)"
echo "folders used one way only: $folders_status ($ROOT/build/folder-includes.log)"
[ "$folders_status" = passed ] || grep '^circle' "$ROOT/build/folder-includes.log" | sed 's/^/  /'
echo "screenshots of each end-to-end step: $ROOT/build/$e2e_preset/e2e-artefacts" \
  "(those at 144 DPI, each main-window layout among them, named *-144dpi-*)"
echo "whole run: $SECONDS s"
if [ ${#not_started[@]} -gt 0 ]; then
  echo "sections whose tests could not start (their tests are counted nowhere): $(IFS=';'; echo "${not_started[*]}" | sed 's/;/; /g')"
  status=1
fi
passed=$(cat "${logs[@]}" | grep -cE ' Passed +[0-9.]+ sec')
failed=$(cat "${logs[@]}" | grep -cE '\*\*\*(Failed|Timeout|Exception)|Not Run')
# What the failed tests said, so that a run whose log is gone still tells why.
if [ "$failed" -gt 0 ]; then
  echo "what the failed tests said:"
  grep -a -h -A8 -E ': Failure.?$' "${logs[@]}" | tr -d '\r' | head -n 80 | sed 's/^/  /'
fi
if [ "$RUNS_32BIT" -eq 1 ]; then
  echo "32-bit programs: run; end-to-end cases on the 32-bit programs of the release package"
else
  echo "32-bit programs: not run ($NO_32BIT_WHY); end-to-end cases on the x86_64 build"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
