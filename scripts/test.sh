#!/usr/bin/env bash
# The test command: installs what is missing, builds the three presets, runs the native tests,
# then the Win32 tests under Wine on a private X display. Exits non-zero on any failure.
set -uo pipefail
source "$(dirname "$0")/lib.sh"
trap stop_started EXIT

prepare || exit 1

declare -A build_seconds
for preset in native win32 win64; do
  start=$SECONDS
  build_preset "$preset" || { log "build of $preset failed"; exit 1; }
  build_seconds[$preset]=$((SECONDS - start))
done

status=0
log "release package"
package_status=passed
if package_dir=$(bash "$ROOT/tests/package_check.sh"); then
  export TALLSNAP_PACKAGE_DIR="$package_dir"  # for the Wine test that starts its layout
else
  package_status=failed
  status=1
fi

log "native tests"
start=$SECONDS
ctest --preset native --timeout 120 -j2 2>&1 | tee "$ROOT/build/native-tests.log" | tail -n 4
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
native_seconds=$((SECONDS - start))

start_xvfb || exit 1
start_wine || exit 1
log "Win32 tests under Wine"
start=$SECONDS
rm -rf "$ROOT/build/win64/e2e-artefacts"
mkdir -p "$ROOT/build/win64/e2e-artefacts"
ctest --preset win64 --timeout 180 -j1 2>&1 | tee "$ROOT/build/win64-tests.log" | tail -n 4
[ "${PIPESTATUS[0]}" -eq 0 ] || status=1
win_seconds=$((SECONDS - start))

summary() { grep -E '^[0-9]+% tests passed' "$1" | tail -n 1; }
echo
echo "== summary =="
echo "build: native ${build_seconds[native]} s, win32 ${build_seconds[win32]} s, win64 ${build_seconds[win64]} s"
echo "native tests: $(summary "$ROOT/build/native-tests.log") (${native_seconds} s)"
echo "win64 tests under Wine: $(summary "$ROOT/build/win64-tests.log") (${win_seconds} s)"
echo "release package: $package_status ($ROOT/dist)"
echo "screenshots of each end-to-end step: $ROOT/build/win64/e2e-artefacts"
passed=$(cat "$ROOT/build/native-tests.log" "$ROOT/build/win64-tests.log" | grep -cE ' Passed +[0-9.]+ sec')
failed=$(cat "$ROOT/build/native-tests.log" "$ROOT/build/win64-tests.log" | grep -cE '\*\*\*(Failed|Timeout|Exception)|Not Run')
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] || status=1
exit $status
