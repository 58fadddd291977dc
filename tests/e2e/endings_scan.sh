#!/usr/bin/env bash
# A close that reaches a progress window of an unattended run is Cancel: each
# case runs `korvane.exe session.xml` under Wine (bounded in time), closes the
# folder-scan or the compression window the way the system or a person would
# (tests/tools closewindow.exe: WM_CLOSE, the close command, Alt+F4) while its
# task runs, and wants exit code 2, a report ending "Operation aborted",
# nothing new in the destination and the earlier archive byte-identical
# (sha256). A closed scan must never hand half its lists to the compression.
set -uo pipefail
e2e_name=endings_scan
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-scan-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
closer="$here/build/tests/tools/closewindow.exe"
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
[ -f "$closer" ] || fail "build/tests/tools/closewindow.exe is missing: build first"
rm -rf "$root"
mkdir -p "$root/prog" "$root/dest" "$root/src/big" "$root/src/huge"
program_folder "$root/prog"

# Many ticked folders, so that the scan takes many slices; one file for the
# compression. The scan (after its first slice) or the compression (at its
# file) is held until the run is stopped (KORVANE_TEST_HOLD_UNTIL_STOPPED 2
# or 1), so the close always lands while the task runs.
dirs=""
for i in $(seq -w 1 900); do
  mkdir -p "$root/src/big/d$i"
  printf 'file %s\r\n' "$i" > "$root/src/big/d$i/f.txt"
  dirs+=$(dirs_xml "$win\\src\\big\\d$i")
done
head -c $((1024 * 1024)) /dev/urandom > "$root/src/huge/h.bin"

printf 'the earlier backup' > "$root/dest/X.zip"
earlier=$(sha256sum < "$root/dest/X.zip")
S_NAME=Scan S_DEST="$win\\dest" S_DIRS="$dirs" session_file "$root/scan.xml"
S_NAME=Zip S_DEST="$win\\dest" S_DIRS="$(dirs_xml "$win\\src\\huge")" session_file "$root/zip.xml"

# case: session | window caption prefix | how it is closed
cases=(
  "scan|Korvane :: Checking|close"
  "scan|Korvane :: Checking|command"
  "scan|Korvane :: Checking|altf4"
  "zip|Korvane :: File compression|close"
  "zip|Korvane :: File compression|command"
)
for c in "${cases[@]}"; do
  IFS='|' read -r session caption way <<<"$c"
  rm -f "$root/prog/temp/"*.log
  hold=2; [ "$session" = zip ] && hold=1
  KORVANE_TEST_HOLD_UNTIL_STOPPED=$hold wine "$win\\prog\\korvane.exe" "$win\\$session.xml" >/dev/null 2>&1 &
  pid=$!
  timeout $((wait_bound + 60)) wine "$closer" "$caption" "$way" $((wait_bound * 1000)) >/dev/null 2>&1 \
    || fail "$c: no window \"$caption\" to close"
  for _ in $(seq 1 $((wait_bound * 2))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  kill -0 "$pid" 2>/dev/null && fail "$c: the run did not end within $wait_bound s after the close"
  wait "$pid"
  rc=$?
  pid=
  report=$(ls "$root/prog/temp/"*.log 2>/dev/null | head -n 1)
  [ -n "$report" ] || fail "$c: no report"
  [ $rc -eq 2 ] || fail "$c: exit code $rc, want 2: $(tail -n 6 "$report")"
  last=$(tail -n 1 "$report" | tr -d '\r')
  [ "$last" = "Operation aborted" ] || fail "$c: the report ends with \"$last\""
  grep -q "Backup done" "$report" && fail "$c: the report says \"Backup done\""
  [ "$(ls -A "$root/dest")" = "X.zip" ] || fail "$c: the destination holds $(ls -A "$root/dest" | tr '\n' ' ')"
  [ "$(sha256sum < "$root/dest/X.zip")" = "$earlier" ] || fail "$c: the earlier archive changed"
  ok "$session window closed by $way: exit 2, aborted, nothing written, the earlier archive unchanged"
done
echo "$e2e_name: all cases passed"
