#!/usr/bin/env bash
# Installs what building and testing TallSnap needs on a Debian machine (run as root).
# Safe to run again: every step checks before it acts.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine64 xvfb xdotool x11-utils imagemagick xterm xfonts-base less tmux chromium
  locales fonts-ipafont-gothic
  googletest libgtest-dev libbenchmark-dev valgrind
  python3 zip unzip file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# The program we ship is 32-bit, so the tests run it under 32-bit Wine.
wine32_missing=0
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed' || wine32_missing=1
if [ ${#missing[@]} -gt 0 ] || [ "$wine32_missing" -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror caught syncing fails one list (seen: the security archive's i386 one); the install
  # goes on from the lists that came, and fails by itself if a package is then missing.
  apt-get update -qq || echo "setup: some package lists could not be fetched; installing from the others"
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Without the i386 lists, 32-bit Wine cannot be installed; everything else still builds and the
# tests drive the x86_64 build, saying why.
if [ "$wine32_missing" -eq 1 ]; then
  echo "setup: installing wine32:i386"
  apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null ||
    echo "setup: wine32:i386 could not be installed; 32-bit programs will not run here"
fi

# Wine must see code page 932 as the ANSI code page.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "setup: generating ja_JP.UTF-8"
  sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
