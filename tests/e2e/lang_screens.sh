#!/usr/bin/env bash
# Languages and the about window seen from outside, under Xvfb:
#  - korvane.exe started with the shipped German file: the translated main
#    window is photographed and the setting is kept;
#  - started with a language file that does not load: the "Lang" setting is
#    cleared in Korvane.ini;
#  - the about window with both pictures, photographed while the test program
#    holds it open (a file handshake, bounded).
# Screenshots land in build/e2e/. Every wait is bounded.
set -uo pipefail
e2e_name=lang_screens
pid=""
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-lang-$$"
work="$WINEPREFIX/drive_c/$name"
shots="$here/build/e2e"
mkdir -p "$work/lang" "$shots"
trap 'rm -rf "$work"' EXIT
cp build/dist/korvane.exe "$work/"
cp build/dist/lang/* "$work/lang/"

ini_value() { tr -d '\r' < "$work/Korvane.ini" | sed -n "s/^$1=//p" | head -n 1; }
start_program() {
  wine "C:\\$name\\korvane.exe" >/dev/null 2>&1 &
  pid=$!
  wait_window "Korvane 0.9.1"
}
stop_program() {
  wine taskkill /im korvane.exe >/dev/null 2>&1
  for _ in $(seq 1 $((wait_bound * 2))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  kill -0 "$pid" 2>/dev/null && fail "the program did not close"
  wait "$pid"
  pid=""
}

# 1. German.
printf '[KRV]\r\nLang=C:\\%s\\lang\\Deutsch.lang\r\n' "$name" > "$work/Korvane.ini"
start_program
# The window paints a moment after it appears, later on a busy machine: look
# again until the picture is drawn (bounded), then judge the last one.
for _ in $(seq 1 $((wait_bound * 2))); do
  import -window root "$shots/main_deutsch.png" || fail "screenshot failed"
  colours=$(convert "$shots/main_deutsch.png" -format %k info:)
  [ "$colours" -ge 16 ] && break
  sleep 0.5
done
[ "$colours" -ge 16 ] || fail "the german main window looks blank ($colours colours)"
stop_program
[ "$(ini_value Lang)" = "C:\\$name\\lang\\Deutsch.lang" ] || fail "a valid language was not kept: $(ini_value Lang)"
echo "german main window: ok ($shots/main_deutsch.png)"

# 2. A language file that does not load.
printf '<Korvane><Lang value="Broken"><Constant></Korvane>' > "$work/lang/Broken.lang"
printf '[KRV]\r\nLang=C:\\%s\\lang\\Broken.lang\r\n' "$name" > "$work/Korvane.ini"
start_program
stop_program
grep -q '^Lang=' "$work/Korvane.ini" && [ -z "$(ini_value Lang)" ] || fail "the Lang setting of a broken file was not cleared: $(cat "$work/Korvane.ini")"
echo "broken language file: ok (setting cleared)"

# 3. The about window.
ready="$work/about.ready"; done_file="$work/about.done"
KRV_SCREEN_READY="C:\\$name\\about.ready" KRV_SCREEN_DONE="C:\\$name\\about.done" \
  timeout 300 wine build/tests/test_app.exe --gtest_filter='AboutWindow.ShowsBothPicturesAndTheVersion' > "$work/about.log" 2>&1 &
pid=$!
for _ in $(seq 1 $((wait_bound * 2))); do [ -f "$ready" ] && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
[ -f "$ready" ] || { cat "$work/about.log"; fail "the about window did not come up"; }
import -window root "$shots/about.png" || fail "screenshot failed"
touch "$done_file"
wait "$pid" || { cat "$work/about.log"; fail "the about window test failed"; }
pid=""
colours=$(convert "$shots/about.png" -format %k info:)
[ "$colours" -ge 64 ] || fail "the about screenshot looks blank ($colours colours)"
echo "about window: ok ($shots/about.png, $colours colours)"
echo "lang_screens: passed"
