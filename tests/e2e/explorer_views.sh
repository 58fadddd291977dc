#!/usr/bin/env bash
# Photographs the explorer views under Xvfb for a person to look at:
# build/e2e/explorer_columns.png (an explorer tree with our detail columns
# over C:\windows, sorted by size) and build/e2e/explorer_list.png (a folder
# tree linked with a list view, C:\windows selected in the tree and listed in
# the view). Each program is ended once its picture is taken; every wait is
# bounded.
set -uo pipefail
e2e_name=explorer_views
. "$(dirname "$0")/lib/common.sh"

shots="$here/build/e2e"
mkdir -p "$shots"
for mode in columns list; do
  caption="Explorer tree with columns"
  [ "$mode" = list ] && caption="Explorer views"
  # It stays open (bounded) until it is ended once the picture is taken.
  wine build/dist/viewsshow.exe "$mode" "$wait_bound" >/dev/null 2>&1 &
  pid=$!
  wait_window "$caption"
  shot="$shots/explorer_$mode.png"
  # Icons come from the icon thread a moment later: take the picture until it
  # has them (bounded), then judge the last one.
  for _ in $(seq 1 $((wait_bound * 2))); do
    sleep 0.5
    import -window root "$shot" || fail "screenshot failed"
    colours=$(convert "$shot" -format %k info:)
    [ "$colours" -ge 24 ] && break
  done
  kill "$pid"
  wait "$pid"
  pid=""
  echo "$mode: $shot, $colours colours"
  [ "$colours" -ge 24 ] || fail "the $mode picture looks blank ($colours colours)"
done
ok "$e2e_name"
