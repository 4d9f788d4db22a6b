#!/usr/bin/env bash
# Checks the release package: builds it, unpacks it into an empty folder, and looks at what a
# user gets. The 32-bit programs must be PE32 i386 executables importing only DLLs that every
# Windows has, beside a Shift-JIS read-me. Prints the unpacked folder on success, for the Wine
# test that starts the same layout with the x86_64 build.
set -uo pipefail
source "$(dirname "$0")/../scripts/lib.sh"

fail() { log "package: $*"; exit 1; }

zip_file=$(bash "$ROOT/scripts/package.sh" | tail -n 1) || fail "scripts/package.sh failed"
[ -f "$zip_file" ] || fail "no package was made"
version=$(sed -n 's/^#define TALLSNAP_VERSION_TEXT "\(.*\)"$/\1/p' "$ROOT/version.h")
[ "$(basename "$zip_file")" = "TallSnap-$version-win32.zip" ] || fail "package named $(basename "$zip_file")"

unpacked="$ROOT/build/package-check"
rm -rf "$unpacked"
mkdir -p "$unpacked"
unzip -q "$zip_file" -d "$unpacked" || fail "it does not unpack"
folder="$unpacked/TallSnap-$version"
expected=$'Kelvo.exe\nTallSnap.exe\nTarvin.exe\nreadme.txt'
[ "$(cd "$folder" 2>/dev/null && find . -mindepth 1 | sed 's|^\./||' | LC_ALL=C sort)" = "$expected" ] ||
  fail "it holds $(cd "$unpacked" && find . -mindepth 1 | tr '\n' ' ')"

# DLLs of every Windows since XP; WINMM, COMCTL32 and SHLWAPI included.
allowed=" advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll version.dll winmm.dll "
for exe in TallSnap Kelvo Tarvin; do
  file -b "$folder/$exe.exe" | grep -q '^PE32 executable .*Intel 80386' ||
    fail "$exe.exe is $(file -b "$folder/$exe.exe")"
  for dll in $(i686-w64-mingw32-objdump -p "$folder/$exe.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    case "$allowed" in *" $dll "*) ;; *) fail "$exe.exe imports $dll" ;; esac
  done
done
iconv -f CP932 -t UTF-8 "$folder/readme.txt" | grep -q '縦長画像を一発ゲット' || fail "the read-me is not Shift-JIS"
grep -q $'\r$' "$folder/readme.txt" || fail "the read-me has no CRLF line ends"
echo "$folder"
