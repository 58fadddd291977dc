#!/usr/bin/env bash
# How a run's archive ends up in the destination folder, one table row per
# way a run can end: killed while compressing (with and without Overwrite,
# and a disc run with its volumes), the next run's clean-up, Overwrite onto a
# read-only archive, a second run while another one writes into the same
# folder, and paths too long for Windows. Each row runs
# `korvane.exe session.xml [name]` under Wine with a time limit and checks
# the exit code, the last lines of the report, the exact files left in the
# destination, that the earlier archives are byte-identical (sha256), and
# every new archive with unzip -t, 7z t and Python's zipfile.
set -uo pipefail
e2e_name=endings_archive
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-endarch-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
pids=()
cleanup() {
  local p
  for p in "${pids[@]}"; do kill -9 "$p" 2>/dev/null; done
  chmod -R u+w "$root" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT
rm -rf "$root"
mkdir -p "$root/prog" "$root/dest" "$root/src/small" "$root/src/big"
program_folder "$root/prog"
printf 'small one' > "$root/src/small/s.txt"
printf 'small two\r\n' > "$root/src/small/t.txt"
# Incompressible data: a few seconds of compression to kill or to overlap, in
# several files so that a disc run's volumes appear one after another.
for i in $(seq 10 21); do head -c 10000000 /dev/urandom > "$root/src/big/noise$i.bin"; done

session() {   # sessionName archive overwrite folder
  S_NAME=$1 S_ARCHIVE=$2 S_DEST="$win\\dest" S_OVERWRITE=$3 S_DIRS=$(dirs_xml "$win\\src\\$4") \
    session_file "$root/$1.xml"
}
report() { echo "$root/prog/temp/$1.log"; }
temporaries() { (cd "$root/dest" && ls -A | grep -E '^~kv[0-9A-Fa-f]{1,4}\.tmp$'); }

# Starts a run in the background; its process id is in $pid.
start() {   # session [archive name]
  wine "$win\\prog\\korvane.exe" "$win\\$1.xml" "${@:2}" >/dev/null 2>&1 &
  pid=$!
  pids+=("$pid")
}
# Waits (bounded) until that run's temporary archive holds some data.
wait_writing() {
  local _ t
  for _ in $(seq 1 $((wait_bound * 4))); do
    for t in $(temporaries); do
      [ "$(stat -c %s "$root/dest/$t")" -gt 4000000 ] && { writing=$t; return 0; }
    done
    kill -0 "$pid" 2>/dev/null || fail "the run ended before it was writing: $(tail -n 5 "$(report "$1")")"
    sleep 0.25
  done
  fail "no temporary archive grew within $wait_bound s"
}
# Waits (bounded) for a background run; its exit code is in $rc.
finish() {
  local _
  for _ in $(seq 1 $((wait_bound * 4))); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; rc=$?; return 0; }
    sleep 0.25
  done
  fail "the run did not end within $wait_bound s"
}
run() {   # session [archive name]; exit code in $rc
  timeout "$wait_bound" wine "$win\\prog\\korvane.exe" "$win\\$1.xml" "${@:2}" >/dev/null 2>&1
  rc=$?
  [ $rc -eq 124 ] && fail "korvane.exe $1 did not end within $wait_bound s (waiting for a person?)"
}
kill_run() {
  kill -9 "$pid"
  finish
}

# The files of the destination, sorted, with any temporary name as ~kv????.tmp.
dest_files() { (cd "$root/dest" && ls -A | sed -E 's/^~kv[0-9A-Fa-f]{1,4}\.tmp$/~kv????.tmp/' | LC_ALL=C sort | paste -sd' '); }
sums() { (cd "$root/dest" && for f in *.zip; do [ -f "$f" ] && echo "$f $(sha256sum < "$f")"; done); }

# One row: the exit code, the last lines of the report (| between lines; none
# for a run that was killed), the files left in the destination, the earlier archives
# that must be byte-identical, and the new archives for the peers.
check() {   # row session want-rc last-lines files unchanged-archives new-archives
  local row=$1 sess=$2 want=$3 last=$4 files=$5 same=$6 new=$7 f
  [ "$rc" -eq "$want" ] || fail "$row: exit code $rc, want $want: $(tail -n 6 "$(report "$sess")" 2>/dev/null)"
  [ -z "$last" ] || $PY - "$(report "$sess")" "$last" <<'PYEOF' || fail "$row: end of the report"
import sys
lines = [l.rstrip("\r\n") for l in open(sys.argv[1], encoding="utf-8")]
want = sys.argv[2].split("|")
got = lines[-len(want):]
if got != want:
    sys.exit("ends with %r, want %r" % (got, want))
PYEOF
  [ "$(dest_files)" = "$files" ] || fail "$row: destination holds '$(dest_files)', want '$files'"
  for f in $same; do
    grep -qxF "$f $(sha256sum < "$root/dest/$f")" <<<"$before" || fail "$row: $f changed"
  done
  for f in $new; do peers_ok "$root/dest/$f"; done
  ok "$row"
}
has_line() {   # row session line
  [ -f "$(report "$2")" ] || fail "$1: no report $(report "$2") (exit code $rc; the folder holds: $(ls -A "$root/prog/temp" | paste -sd' '))"
  grep -qxF "$3" <(tr -d '\r' < "$(report "$2")") || fail "$1: no line '$3' in $(report "$2")"
}
summary() { echo "Archive: $win\\dest\\$1|Files archived: $2|Left out: 0|Backup done"; }

# The earlier backup every row starts from.
session Small "Backup.zip" False small
run Small
check "earlier backup" Small 0 "$(summary Backup.zip "2 (20 bytes)")" "Backup.zip" "" "Backup.zip"
before=$(sums)

# Row: killed while compressing, Overwrite off. Nothing under a backup's name:
# only the temporary archive is left beside the earlier one.
session Big "Backup.zip" False big
start Big
wait_writing Big
kill_run
[ -e "$root/dest/Backup_1.zip" ] && fail "killed run left Backup_1.zip"
check "killed, Overwrite off" Big 137 "" "Backup.zip ~kv????.tmp" "Backup.zip" ""
left=$writing

# Row: the next run removes what the killed one left, says so, and takes the free name.
run Small
check "next run after a kill" Small 0 "$(summary Backup_1.zip "2 (20 bytes)")" "Backup.zip Backup_1.zip" \
  "Backup.zip" "Backup_1.zip"
has_line "next run after a kill" Small "Removed an unfinished archive left by a stopped run: $win\\dest\\$left"
rm -f "$root/dest/Backup_1.zip"

# Row: killed while compressing, Overwrite on: the earlier archive stays whole.
session BigOver "Backup.zip" True big
start BigOver
wait_writing BigOver
kill_run
check "killed, Overwrite on" BigOver 137 "" "Backup.zip ~kv????.tmp" "Backup.zip" ""
left=$writing
session SmallOver "Backup.zip" True small
run SmallOver
has_line "Overwrite after a kill" SmallOver "Removed an unfinished archive left by a stopped run: $win\\dest\\$left"
check "Overwrite after a kill" SmallOver 0 "$(summary Backup.zip "2 (20 bytes)")" "Backup.zip" "" "Backup.zip"
before=$(sums)

# Row: Overwrite onto an archive the user made read-only: kept, mark and all;
# the backup takes the next free name and the report says so.
chmod a-w "$root/dest/Backup.zip"
run SmallOver
check "Overwrite, read-only archive" SmallOver 0 "$(summary Backup_1.zip "2 (20 bytes)")" \
  "Backup.zip Backup_1.zip" "Backup.zip" "Backup_1.zip"
has_line "Overwrite, read-only archive" SmallOver "The archive is read-only and is not replaced: $win\\dest\\Backup.zip"
has_line "Overwrite, read-only archive" SmallOver "The archive name has been changed to Backup_1.zip"
case "$(stat -c %A "$root/dest/Backup.zip")" in *w*) fail "Backup.zip lost its read-only mark";; esac
chmod u+w "$root/dest/Backup.zip"
rm -f "$root/dest/Backup_1.zip"
before=$(sums)

# Row: a run into a folder where another run is writing leaves that run's
# temporary archive alone; both end well.
session Other "Other.zip" False small
start Big
wait_writing Big
first=$pid
# Held still (its handles open) so that it is sure to be writing throughout.
kill -STOP "$first"
run Other
kill -CONT "$first"
[ -e "$root/dest/$writing" ] || fail "the second run removed the first run's archive $writing"
grep -q "Removed an unfinished archive" "$(report Other)" && fail "the second run removed something"
check "second run while one writes" Other 0 "$(summary Other.zip "2 (20 bytes)")" \
  "Backup.zip Other.zip ~kv????.tmp" "Backup.zip" "Other.zip"
pid=$first
finish
check "the first run ends well" Big 0 "$(summary Backup_1.zip "12 (120000000 bytes)")" \
  "Backup.zip Backup_1.zip Other.zip" "Backup.zip" "Backup_1.zip"
rm -f "$root/dest/Backup_1.zip" "$root/dest/Other.zip"
before=$(sums)

# Rows: paths too long for Windows are said as such, not as "too many backups".
long="$root/dest/$(printf 'f%.0s' $(seq 1 $((254 - ${#win} - 6))))"
mkdir -p "$long"
wlong="$win\\dest\\$(basename "$long")"
[ ${#wlong} -eq 254 ] || fail "the long folder has ${#wlong} characters"
S_NAME=LongDest S_ARCHIVE=L.zip S_DEST="$wlong" S_DIRS=$(dirs_xml "$win\\src\\small") session_file "$root/LongDest.xml"
run LongDest
check "254-character destination" LongDest 2 "The backup's path is too long for Windows: $wlong\\L.zip|Operation aborted" \
  "Backup.zip $(basename "$long")" "Backup.zip" ""
[ -z "$(ls -A "$long")" ] || fail "254-character destination: left $(ls -A "$long")"
rmdir "$long"
longname=$(printf 'n%.0s' $(seq 1 250))   # a file name, in a path too long
run Small "$longname"
check "250-character archive name" Small 2 \
  "The backup's path is too long for Windows: $win\\dest\\$longname.zip|Operation aborted" "Backup.zip" "Backup.zip" ""

# Rows: a disc run killed while compressing leaves its volumes only under the
# temporary name in the program's temp folder; the next disc run removes them,
# makes its set under the archive's names and leaves the temp folder clean.
tools=build/tests/tools
program_folder "$root/disc"
mkdir -p "$root/disc/tools"
cp $tools/mkisofs.exe $tools/cdrecord.exe $tools/cygwin1.dll "$root/disc/tools/"
printf '%s\n' '[cdrecord --scanbus]' 'out scsibus0:' \
  "out \t0,0,0\t100) 'STANDIN ' 'DVD-RW ENDINGS  ' '1.00' Removable CD-ROM" '[cdrecord -checkdrive]' \
  'out Device type    : Removable CD-ROM' '[mkisofs]' 'iso' '[cdrecord blank=]' '[cdrecord -dao]' 'burn' \
  > "$root/disc/tools/standin.script"
S_NAME=DiscBig S_ARCHIVE="Set.zip" S_TYPE=0 S_DEVICE=0 S_DIRS=$(dirs_xml "$win\\src\\big") session_file "$root/DiscBig.xml"
S_NAME=DiscSmall S_ARCHIVE="Set.zip" S_TYPE=0 S_DEVICE=0 S_DIRS=$(dirs_xml "$win\\src\\small") \
  session_file "$root/DiscSmall.xml"
temp="$root/disc/temp"
export KORVANE_TEST_VOLUME_SIZE=20000000 KRV_STANDIN_DISC="$win\\disc.iso"
wine "$win\\disc\\korvane.exe" "$win\\DiscBig.xml" >/dev/null 2>&1 &
pid=$!
pids+=("$pid")
for _ in $(seq 1 $((wait_bound * 4))); do
  [ -n "$(cd "$temp" 2>/dev/null && ls -A | grep -E '^~kv[0-9A-Fa-f]{1,4}\.Z02$')" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the disc run ended before its second volume: $(tail -n 6 "$temp/DiscBig.log" 2>/dev/null)"
  sleep 0.25
done
kill_run
[ "$rc" -eq 137 ] || fail "disc run killed: exit code $rc"
# The zip engine's scratch file of an entry ("FCxxxx.tmp") is no archive and
# stays: a temp folder chosen in the options may hold other programs' files.
scratch() { grep -vE '\.log$|^FC[0-9A-Fa-f]{1,4}\.tmp$'; }
left=$(cd "$temp" && ls -A | scratch | LC_ALL=C sort)
for want in '\.tmp' '\.Z01' '\.Z02'; do
  grep -qE "^~kv[0-9A-Fa-f]{1,4}$want\$" <<<"$left" || fail "a killed disc run left no ${want#\\} volume: $left"
done
grep -qvE '^~kv[0-9A-Fa-f]{1,4}\.(tmp|Z[0-9]+)$' <<<"$left" && fail "a killed disc run left '$left' in the temp folder"
ok "disc run killed: only temporary names left"
timeout "$wait_bound" wine "$win\\disc\\korvane.exe" "$win\\DiscSmall.xml" >/dev/null 2>&1
rc=$?
[ "$rc" -eq 0 ] || fail "the next disc run exited with $rc: $(tail -n 8 "$temp/DiscSmall.log")"
for f in $left; do
  grep -qxF "Removed an unfinished archive left by a stopped run: $win\\disc\\temp\\$f" <(tr -d '\r' < "$temp/DiscSmall.log") \
    || fail "the next disc run does not say it removed $f"
done
grep -qx 'Backup done' <(tr -d '\r' < "$temp/DiscSmall.log") || fail "the next disc run did not end done"
[ -z "$(cd "$temp" && ls -A | scratch)" ] || fail "left in the temp folder: $(ls -A "$temp")"
ok "next disc run: the killed run's volumes removed and said, temp folder clean"

echo "endings_archive: passed"
