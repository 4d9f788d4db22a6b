#!/usr/bin/env bash
# The release package: dist/TallSnap-<version>-win32.zip, holding the shipped 32-bit build of
# TallSnap.exe, Kelvo.exe and Tarvin.exe (statically linked, stripped) and the Japanese
# read-me in Shift-JIS with CRLF line ends, in one folder named after the version.
set -uo pipefail
source "$(dirname "$0")/lib.sh"

prepare || exit 1
build_preset win32 >"$ROOT/build/win32-package.log" 2>&1 || { cat "$ROOT/build/win32-package.log"; exit 1; }

version=$(sed -n 's/^#define TALLSNAP_VERSION_TEXT "\(.*\)"$/\1/p' "$ROOT/version.h")
[ -n "$version" ] || { log "no version in version.h"; exit 1; }
name="TallSnap-$version"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
for exe in TallSnap Kelvo Tarvin; do
  i686-w64-mingw32-strip -o "$stage/$name/$exe.exe" "$ROOT/build/win32/$exe.exe" || exit 1
done
iconv -f UTF-8 -t CP932 "$ROOT/packaging/readme.txt" | sed 's/$/\r/' >"$stage/$name/readme.txt" || exit 1

mkdir -p "$ROOT/dist"
zip_file="$ROOT/dist/$name-win32.zip"
rm -f "$zip_file"
(cd "$stage" && zip -q -X -r "$zip_file" "$name") || exit 1
echo "$zip_file"
