#!/usr/bin/env bash
# Every way an unattended run can be ended from outside, one table: Cancel in
# the compression window, each close path of that window and of the main
# window, the end of the Windows session (sent as Windows sends it, the
# process ended as soon as the windows have answered), and kill -9. Each case
# starts `korvane.exe session.xml` with its compression held at the first
# file until the run is stopped (KORVANE_TEST_HOLD_UNTIL_STOPPED, so the stop
# always lands in the middle), waits until the archive is being written, ends
# the run its way, and checks
# the exit code, the report's last lines and the destination: only the earlier
# archive, byte-identical (sha256), and at most the temporary file a killed
# run could not remove. Every wait is bounded. KORVANE_EXE names another
# korvane.exe to try (an older build, to see the table fail).
set -uo pipefail
e2e_name=run_endings
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-endings-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
winmsg="build/tests/tools/winmsg.exe"
pid=""
cleanup() { [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$root"; }
trap cleanup EXIT
[ -f "$winmsg" ] || fail "$winmsg is not built"
rm -rf "$root"
mkdir -p "$root/prog" "$root/dest" "$root/src/small" "$root/src/big"
program_folder "$root/prog" IgnoreDiskSpace=1
printf 'small' > "$root/src/small/s.txt"
# Two files: the run is held at the first, the second is never reached.
for i in 1 2; do head -c 1000000 /dev/urandom > "$root/src/big/r$i.bin"; done

# The earlier backup, made by a run of the small folder.
S_NAME=Earlier S_ARCHIVE=X.zip S_DEST="$win\\dest" S_DIRS="$(dirs_xml "$win\\src\\small")" session_file "$root/earlier.xml"
timeout "$wait_bound" wine "$win\\prog\\korvane.exe" "$win\\earlier.xml" >/dev/null 2>&1 || fail "the earlier backup was not made"
peers_ok "$root/dest/X.zip"
earlier=$(sha256sum < "$root/dest/X.zip")

main_caption="Korvane 0.9.1"
zip_caption="Korvane :: File compression*"

# The file the run is writing (anything in the destination but X.zip).
wait_writing() {
  local _ f
  for _ in $(seq 1 $((wait_bound * 4))); do
    for f in "$root/dest/"*; do
      [ "$(basename "$f")" = X.zip ] && continue
      [ -f "$f" ] && return 0
    done
    kill -0 "$pid" 2>/dev/null || fail "$case: the run ended before it was writing its archive: $(tail -n 5 "$root/prog/temp/$session.log" 2>/dev/null)"
    sleep 0.25
  done
  fail "no archive being written within $wait_bound s"
}

# Waits (bounded) for the program to end; its exit code in $rc.
wait_end() {
  local _
  for _ in $(seq 1 $((wait_bound * 4))); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.25
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid"; wait "$pid" 2>/dev/null; pid=""
    fail "$case: the program was still running $wait_bound s after it was stopped"
  fi
  wait "$pid"; rc=$?; pid=""
}

# How each case stops the run (after the archive is being written).
stop_run() {   # how
  case "$1" in
    cancel)        wine "$winmsg" cancel "$zip_caption" "$wait_bound" ;;
    zip-close)     wine "$winmsg" close "$zip_caption" "$wait_bound" ;;
    zip-sysclose)  wine "$winmsg" sysclose "$zip_caption" "$wait_bound" ;;
    zip-altf4)     wine "$winmsg" altf4 "$zip_caption" "$wait_bound" ;;
    main-close)    wine "$winmsg" close "$main_caption" "$wait_bound" ;;
    main-sysclose) wine "$winmsg" sysclose "$main_caption" "$wait_bound" ;;
    logoff)        wine "$winmsg" logoff "$main_caption" "$wait_bound" ;;
    kill)          kill -9 "$pid" ;;
  esac >"$root/winmsg.out" 2>&1 || fail "$1: could not reach the program's window: $(cat "$root/winmsg.out")"
}

# case | how | overwrite | exit code ("-": the system ended the process, its code
# is the system's) | last lines of the report ("-": none, the run was killed)
cases=(
  "cancel|cancel|False|2|Interrupted by user;Operation aborted"
  "cancel-overwrite|cancel|True|2|Interrupted by user;Operation aborted"
  "zip-close|zip-close|False|2|Interrupted by user;Operation aborted"
  "zip-sysclose|zip-sysclose|True|2|Interrupted by user;Operation aborted"
  "zip-altf4|zip-altf4|False|2|Interrupted by user;Operation aborted"
  "main-close|main-close|False|2|Interrupted by user;Operation aborted"
  "main-sysclose|main-sysclose|True|2|Interrupted by user;Operation aborted"
  "logoff|logoff|False|-|Windows is ending the session: the backup is stopped;Operation aborted"
  "logoff-overwrite|logoff|True|-|Windows is ending the session: the backup is stopped;Operation aborted"
  "kill|kill|True|137|-"
)
for row in "${cases[@]}"; do
  IFS='|' read -r case how overwrite want lines <<<"$row"
  session="End-$case"
  S_NAME=$session S_ARCHIVE=X.zip S_DEST="$win\\dest" S_OVERWRITE=$overwrite S_DIRS="$(dirs_xml "$win\\src\\big")" \
    session_file "$root/$case.xml"
  rm -f "$root/prog/temp/$session.log"
  KORVANE_TEST_HOLD_UNTIL_STOPPED=1 wine "$win\\prog\\korvane.exe" "$win\\$case.xml" >/dev/null 2>&1 &
  pid=$!
  wait_writing
  stop_run "$how"
  wait_end
  [ "$want" = - ] || [ "$rc" -eq "$want" ] || fail "$case: exit code $rc, want $want: $(tail -n 5 "$root/prog/temp/$session.log" 2>/dev/null)"
  report="$root/prog/temp/$session.log"
  if [ "$lines" != "-" ]; then
    [ -f "$report" ] || fail "$case: no report"
    IFS=';' read -r -a last <<<"$lines"
    $PY - "$report" "${last[@]}" <<'PYEOF' || fail "$case: report"
import sys
lines = [l.rstrip("\r\n") for l in open(sys.argv[1], encoding="utf-8")]
want = sys.argv[2:]
if lines[-len(want):] != want: sys.exit("ends with %r, want %r" % (lines[-len(want):], want))
if any(l == "Backup done" or l.startswith("Archive: ") for l in lines): sys.exit("a stopped run reported a backup")
PYEOF
  fi
  [ "$(sha256sum < "$root/dest/X.zip")" = "$earlier" ] || fail "$case: the earlier archive changed"
  # Only a killed run may leave its temporary file (a later run removes it).
  for f in "$root/dest/"*; do
    b=$(basename "$f")
    [ "$b" = X.zip ] && continue
    [ "$how" = kill ] && [[ "$b" == "~kv"*.tmp ]] && { rm -f "$f"; continue; }
    fail "$case: left in the destination: $b ($(stat -c %s "$f") bytes)"
  done
  ok "$case: exit $rc, report and destination as they should be"
done
peers_ok "$root/dest/X.zip"
echo "run_endings: passed"
