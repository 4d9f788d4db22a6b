# Shared by the run and test commands: builds, and a private X display and Wine server that
# are stopped by pid, leaving every other process of the machine alone.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX="$ROOT/build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export LC_ALL=ja_JP.UTF-8

STARTED_PIDS=()

log() { printf '%s: %s\n' "$(basename "$0")" "$*" >&2; }

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  until "$@" >/dev/null 2>&1; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# Whether this machine runs 32-bit (i386) programs, asked of the machine itself: 32-bit Wine's
# own loader prints its version. Some kernels here have i386 emulation switched off at boot, and
# then every i386 program fails with "Exec format error" though the packages install. Sets
# RUNS_32BIT to 1 or 0, and NO_32BIT_WHY to the reason when 0. TALLSNAP_32BIT=yes or =no forces
# the answer, to try the other kind of machine.
probe_32bit() {
  case ${TALLSNAP_32BIT:-} in
    yes) RUNS_32BIT=1; NO_32BIT_WHY=; return ;;
    no) RUNS_32BIT=0; NO_32BIT_WHY="TALLSNAP_32BIT=no"; return ;;
    '') ;;
    *) log "TALLSNAP_32BIT is '$TALLSNAP_32BIT'; it may be yes, no or unset" ;;
  esac
  if "$WINE32" --version 2>/dev/null </dev/null | grep -q '^wine-'; then
    RUNS_32BIT=1
    NO_32BIT_WHY=
  else
    RUNS_32BIT=0
    NO_32BIT_WHY="this machine cannot run 32-bit programs"
    [ -e "$WINE32" ] || NO_32BIT_WHY="32-bit Wine is not installed (setup could not install wine32:i386)"
  fi
}

# What both commands do first: install what is missing, then work from the project folder.
prepare() {
  bash "$ROOT/scripts/setup.sh" || return 1
  mkdir -p "$ROOT/build"
  cd "$ROOT"
}

# Configures and builds a preset: every target, or only the targets named after it.
build_preset() {
  local preset=$1
  shift
  log "building $preset"
  cmake --preset "$preset" >"$ROOT/build/$preset-configure.log" 2>&1 || { cat "$ROOT/build/$preset-configure.log"; return 1; }
  cmake --build --preset "$preset" -j2 ${1:+--target} "$@"
}

# Starts Xvfb on the first free display, with a screen of $1 (1280x1024 by default), and
# exports DISPLAY. A second screen, 1280 x 8000 ($DISPLAY.1), is for the tests' own use: a window
# as tall as a whole web page shows it at once, the picture a capture of that page must equal.
# Wine and everything else run on the first.
start_xvfb() {
  local size=${1:-1280x1024}
  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "${size}x24" -screen 1 1280x8000x24 -nolisten tcp >/dev/null 2>&1 </dev/null &
  STARTED_PIDS+=($!)
  export DISPLAY=":$n"
  wait_for 20 xdpyinfo -display "$DISPLAY" || { log "Xvfb on $DISPLAY did not start"; return 1; }
  log "Xvfb on $DISPLAY, $size (pid ${STARTED_PIDS[-1]})"
}

# Makes the Wine prefix once, then runs a persistent Wine server of our own for it. The prefix
# is a 64-bit one made with 32-bit Wine installed: it runs the shipped 32-bit programs and the
# x86_64 build side by side, as a user's 64-bit Windows does, which the mixed pair of a 32-bit
# TallSnap and a 64-bit converter needs. One made before 32-bit Wine was there is made anew.
# With a DPI ($1, e.g. 144 for a display scaled to 150 %), the prefix is one of its own,
# build/wineprefix-<dpi>dpi, whose desktop has that many pixels per logical inch.
start_wine() {
  local dpi=${1:-}
  if [ -n "$dpi" ]; then
    export WINEPREFIX="$ROOT/build/wineprefix-${dpi}dpi"
  else
    export WINEPREFIX="$ROOT/build/wineprefix"
  fi
  # Made without 32-bit Wine, a prefix is marked so, and made anew once 32-bit Wine is there.
  local ready=.tallsnap-ready-wow64
  [ -e "$WINE32" ] || ready=.tallsnap-ready-64
  if [ ! -f "$WINEPREFIX/$ready" ]; then
    log "making the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE64" wineboot -i >/dev/null 2>&1 </dev/null || true
    # No window manager runs here: unmanaged windows spare each hide a 2 s wait for one.
    "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
    # The program asks for "ＭＳ Ｐゴシック"; IPA's proportional Gothic is the nearest we have.
    "$WINE64" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /d 'IPAPGothic' /f \
      >/dev/null 2>&1 </dev/null
    if [ -n "$dpi" ]; then
      "$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 </dev/null
    fi
    "$WINESERVER" -w
    touch "$WINEPREFIX/$ready"
  fi
  # The server and Wine's own services must not inherit our output, or test runs stall.
  "$WINESERVER" -f -p >/dev/null 2>&1 </dev/null &
  STARTED_PIDS+=($!)
  wait_for 20 wine_server_ready || { log "the Wine server did not start"; return 1; }
  "$WINE64" wineboot >/dev/null 2>&1 </dev/null || true
  log "Wine server for $WINEPREFIX (pid ${STARTED_PIDS[-1]})"
}

# A Linux path as Wine's programs see it (drive Z: is the root).
winepath_of() { printf 'Z:%s' "${1//\//\\}"; }

# The server's socket lives in a folder named after the prefix's device and inode.
wine_server_ready() {
  local dir
  dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
  local socket
  for socket in /tmp/.wine-"$(id -u)"/"$dir"/socket /tmp/wine-*/"$dir"/socket; do
    [ -S "$socket" ] && return 0
  done
  return 1
}

stop_started() {
  # Ends the Wine processes of our prefix only, then what we started, newest first.
  [ -x "$WINESERVER" ] && WINEPREFIX="$WINEPREFIX" "$WINESERVER" -k >/dev/null 2>&1 || true
  local i
  for ((i = ${#STARTED_PIDS[@]} - 1; i >= 0; i--)); do
    kill "${STARTED_PIDS[i]}" 2>/dev/null || true
    wait "${STARTED_PIDS[i]}" 2>/dev/null || true
  done
  STARTED_PIDS=()
}
