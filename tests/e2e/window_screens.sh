#!/usr/bin/env bash
# Screenshots of the main window (three pages), Options (two pages), About,
# the console task window and the recorder scan window, in English and in
# German, taken under Xvfb while the window test holds each one open (a file
# handshake, bounded).
# The same test checks that no text is cut off and nothing overlaps, and
# that the caption buttons are drawn as symbols, not as the letters their
# font falls back to; the
# pictures in build/e2e/screens/ are for a person to look at.
set -uo pipefail
e2e_name=window_screens
pid=""
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-screens-$$"
sync="$WINEPREFIX/drive_c/$name"
shots="$here/build/e2e/screens"
mkdir -p "$sync" "$shots"
trap 'rm -rf "$sync"' EXIT
KRV_SCREENS_DIR="C:\\$name" timeout 600 wine build/tests/test_app.exe --gtest_filter='Languages/WindowScreens.*:CaptionButtons.*' \
  > "$sync/run.log" 2>&1 &
pid=$!
taken=0
while kill -0 "$pid" 2>/dev/null; do
  for ready in "$sync"/*.ready; do
    [ -f "$ready" ] || continue
    shot=$(basename "$ready" .ready)
    sleep 1   # the window's first paint, the clip's first frames
    import -window root "$shots/$shot.png" || fail "screenshot $shot failed"
    rm -f "$ready"
    touch "$sync/$shot.done"
    taken=$((taken + 1))
  done
  sleep 0.2
done
wait "$pid" || { cat "$sync/run.log"; fail "the window test failed"; }
pid=""
[ "$taken" -eq 16 ] || { cat "$sync/run.log"; fail "expected 16 screenshots, took $taken"; }
echo "window_screens: passed ($taken screenshots in $shots)"
