#!/usr/bin/env bash
# Which of the program's folders uses which: one arrow "from -> to" for every folder whose sources
# include a header of another (the tests and the build left out), then an order in which every
# folder uses only those before it. Exits 1, naming the folders, when the arrows make a circle: a
# folder that uses one that uses it back, directly or round a longer way.
set -euo pipefail
cd "$(dirname "$0")/.."

folders=()
for dir in */; do
  dir=${dir%/}
  case $dir in build | tests) continue ;; esac
  compgen -G "$dir/*.h" >/dev/null || compgen -G "$dir/*.cpp" >/dev/null || continue
  folders+=("$dir")
done

arrows=$(
  for from in "${folders[@]}"; do
    cat "$from"/*.h "$from"/*.cpp 2>/dev/null | sed -n 's|^#include "\([a-z_]*\)/.*|\1|p' | sort -u |
      while read -r to; do
        if [ "$to" != "$from" ] && [ -d "$to" ]; then printf '%s -> %s\n' "$from" "$to"; fi
      done
  done | sort
)
echo "$arrows"

# What each folder reaches, directly or round a longer way; an arrow whose head reaches back to
# its tail lies on a circle.
declare -A reach
for dir in "${folders[@]}"; do reach[$dir]=" "; done
changed=1
while [ $changed -eq 1 ]; do
  changed=0
  while read -r from _ to; do
    [ -n "$from" ] || continue
    for dir in "$to" ${reach[$to]}; do
      case ${reach[$from]} in *" $dir "*) ;; *) reach[$from]+="$dir " changed=1 ;; esac
    done
  done <<<"$arrows"
done
circle=0
while read -r from _ to; do
  case ${reach[$to]:-} in *" $from "*) echo "circle: $from -> $to, and $to reaches $from back"; circle=1 ;; esac
done <<<"$arrows"
[ $circle -eq 0 ] || exit 1

# tsort takes "user used" pairs; what it prints first is used by nothing here.
order=$( (printf '%s\n' "${folders[@]}" | sed 's/.*/& &/'; echo "$arrows" | sed -n 's/ -> / /p') | tsort)
echo "no circle; each folder uses only those after it: $(echo "$order" | tr '\n' ' ' | sed 's/ $//')"
