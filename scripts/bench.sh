#!/usr/bin/env bash
# The figures: the stitching tick natively (Google Benchmark), the whole tick under Wine, and
# Kelvo.exe against ImageMagick on the same 1914 x 4000 BMP.
#   scripts/bench.sh               everything
#   scripts/bench.sh --stitch      only the native stitching table
#   scripts/bench.sh --callgrind   only the instructions of single stitching ticks
set -uo pipefail
source "$(dirname "$0")/lib.sh"
trap stop_started EXIT
prepare || exit 1
build_preset bench >/dev/null || exit 1

# Each case of the stitching benchmark five times, the cases interleaved, so that another
# process slowing the machine down for a while moves the medians of the table little.
stitch_table() {
  echo "== one stitching tick, 1914 x 1074 range (native; medians of 5, literal search beside the shipped one) =="
  "$ROOT/build/bench/stitch_bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
    --benchmark_min_time=0.1 2>/dev/null | sed -n '/^case/,$p'
}

# Instructions of exactly one tick, which the machine's load does not change: the benchmark
# runs the tick inside MeasuredTick (the shipped search after one tick that lets it learn the
# image), and callgrind counts only there.
callgrind_ticks() {
  echo "== instructions of one stitching tick (callgrind) =="
  local tick out line
  for tick in "usual: scroll 24/3990/new" "usual: scroll 24/3990/literal" \
              "no match, text/3990/new" "no match, text/3990/literal" \
              "no match, last column/3990/new" "no match, last column/3990/literal" \
              "largest move, text/2000/new" "largest move, text/2000/literal" \
              "largest move, last column/2000/new" "largest move, last column/2000/literal"; do
    out=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null --collect-atstart=no \
            --toggle-collect='MeasuredTick*' "$ROOT/build/bench/stitch_bench" "--one-tick=$tick" 2>&1)
    line=$(grep -m1 -F "$tick: " <<<"$out")
    printf '%-40s %14s  %s\n' "$tick" "$(sed -n 's/.*Collected : //p' <<<"$out")" "${line#"$tick: "}"
  done
}

case "${1:-}" in
  --stitch) stitch_table; exit 0 ;;
  --callgrind) callgrind_ticks; exit 0 ;;
esac

# The programs we ship are 32-bit: their figures come from the 32-bit build, on a screen of
# its own of the usual laptop size. A machine that runs no 32-bit program measures the x86_64
# build of the same sources instead, and each table says so.
probe_32bit
if [ "$RUNS_32BIT" -eq 1 ]; then
  preset=win32-tests wine=$WINE32 build="32-bit"
else
  preset=win64 wine=$WINE64 build="x86_64, as $NO_32BIT_WHY"
fi
build_preset "$preset" >/dev/null || exit 1
work=$(mktemp -d)
status=0

# Runs a Windows benchmark program of the build ($1, then its arguments) and prints what it
# printed. One that fails or prints nothing is an error, not an empty table.
wine_figures() {
  local program=$1 out code
  shift
  out=$("$wine" "$ROOT/build/$preset/$program.exe" "$@" 2>/dev/null </dev/null)
  code=$?
  out=${out//$'\r'/}
  if [ "$code" -ne 0 ] || [ -z "$out" ]; then
    log "$program.exe could not run on the $build build (exit code $code)"
    status=1
    return 1
  fi
  printf '%s\n' "$out"
}

stitch_table

start_xvfb 1920x1080 || exit 1
start_wine || exit 1

echo
echo "== the whole tick under Wine ($build), 1914 x 1074 range of a 1920 x 1080 screen, 30 ticks each =="
echo "     case        median    max  (ms)  median / bare grab"
wine_figures tick_bench "$(winepath_of "$work")"

echo
echo "== 終わる on a 1914 x 4000 capture under Wine ($build; ms) =="
mkdir -p "$work/finish"
wine_figures finish_bench "$(winepath_of "$work/finish")"

echo
echo "== Kelvo.exe ($build) against ImageMagick, 1914 x 4000 (median of 5, ms) =="

kelvo=$(wine_figures kelvo_bench "$(winepath_of "$work")") || { rm -rf "$work"; exit 1; }

median_ms() {  # runs the command 5 times, prints the median in ms
  local times=() i s
  for i in 1 2 3 4 5; do
    rm -f "$work/im.$1"
    s=$(date +%s%N)
    "${@:2}" >/dev/null 2>&1
    times+=($(( ($(date +%s%N) - s) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 3p
}
im_jpg=$(median_ms jpg convert "$work/tall.bmp" -quality 100 "$work/im.jpg")
im_png=$(median_ms png convert "$work/tall.bmp" "$work/im.png")
# Wine's JPEG codec ignores the requested quality and writes about 75 with 4:2:0 chroma:
# ImageMagick at that setting is the like-for-like figure there.
im_jpg75=$(median_ms jpg convert "$work/tall.bmp" -quality 75 -sampling-factor 2x2 "$work/im.jpg")

printf '%-9s %12s %16s %8s\n' format "Kelvo (ms)" "ImageMagick (ms)" ratio
row() {
  local k
  k=$(awk -v f="$2" '$1 == "kelvo" && $2 == f {print $3}' <<<"$kelvo")
  printf '%-9s %12s %16s %8s\n' "$1" "$k" "$3" "$(awk -v k="$k" -v i="$3" 'BEGIN { if (i > 0) printf "%.2f", k / i }')"
}
row jpg jpg "$im_jpg"
row "jpg q75" jpg "$im_jpg75"
row png png "$im_png"
rm -rf "$work"
exit $status
