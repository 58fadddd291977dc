#!/usr/bin/env bash
# Starts korvane.exe from an empty folder under Xvfb: the main window must
# appear with its caption, make temp (hidden), tools and lang and write
# Korvane.ini, be drawn (a screenshot with many colours, not a blank frame),
# and close cleanly on WM_CLOSE. Every wait is bounded.
set -uo pipefail
e2e_name=app_start
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-app-$$"
work="$WINEPREFIX/drive_c/$name"
shots="$here/build/e2e"
mkdir -p "$work" "$shots"
trap 'rm -rf "$work"' EXIT
cp build/dist/korvane.exe "$work/"

wine "C:\\$name\\korvane.exe" >/dev/null 2>&1 &
pid=$!

wait_window "Korvane 0.9.1"
echo "window: ok"

for d in temp tools lang; do [ -d "$work/$d" ] || fail "folder $d was not created"; done
attrs=$(wine cmd /c attrib "C:\\$name\\temp" 2>/dev/null | tr -d '\r')
echo "$attrs" | grep -q '^ *[A-Z ]*H' || fail "temp is not hidden ($attrs)"
echo "folders: ok (temp: $attrs)"
grep -q '^\[KRV\]' "$work/Korvane.ini" 2>/dev/null || fail "Korvane.ini was not written"
grep -qi '^TempDir=C:\\'"$name"'\\temp' "$work/Korvane.ini" || fail "Korvane.ini lacks the temp folder: $(cat "$work/Korvane.ini")"
echo "settings: ok"

# The window paints a moment after it appears, later on a busy machine: look
# again until the picture is complete (bounded), then judge the last one.
# With an empty tools folder the log shows its "not found" lines in pure red.
shot="$shots/app_start.png"
for _ in $(seq 1 $((wait_bound * 2))); do
  import -window root "$shot" || fail "screenshot failed"
  colours=$(convert "$shot" -format %k info:)
  red=$(convert "$shot" -format %c histogram:info:- | awk '/#FF0000/ {print $1+0}')
  [ "$colours" -ge 16 ] && [ "${red:-0}" -ge 200 ] && break
  sleep 0.5
done
echo "screenshot: $shot, $colours colours"
[ "$colours" -ge 16 ] || fail "the screen looks blank ($colours colours)"
echo "red pixels: ${red:-0}"
[ "${red:-0}" -ge 200 ] || fail "the red log lines are not on the screen"

# A clean close: taskkill without /f sends WM_CLOSE to the window.
wine taskkill /im korvane.exe >/dev/null 2>&1
for _ in $(seq 1 $((wait_bound * 2))); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
if kill -0 "$pid" 2>/dev/null; then fail "the window did not close on WM_CLOSE"; fi
wait "$pid"; rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc"
echo "close: ok"
echo "app_start: passed"
