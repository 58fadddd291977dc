#!/usr/bin/env bash
# Unattended runs that never hang, never report a failure as success and lose
# nothing: every case runs `korvane.exe session.xml [name]` under Wine with a
# time limit (a run that waits on a box fails the test), and checks the exit
# code (0 done, 1 done with files left out, 2 failed, 3 unusable session or
# command line), the report's lines, the archives with unzip -t, 7z t and
# Python's zipfile, and that an earlier archive is byte-identical (sha256)
# after a run that failed. The disk-full cases write to a small tmpfs mapped
# as drive T: in the test's Wine prefix.
set -uo pipefail
e2e_name=unattended
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-unatt-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
small="$root/small"             # the tmpfs behind T:
drive="$WINEPREFIX/dosdevices/t:"
cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  mountpoint -q "$small" && umount "$small"
  [ -L "$drive" ] && rm -f "$drive"
  rm -rf "$root"
}
trap cleanup EXIT
rm -rf "$root"
mkdir -p "$root/prog" "$root/ign" "$root/dest" "$root/src/one" "$root/src/more/sub" "$small"
# The second program folder goes on when space is short.
program_folder "$root/prog"
program_folder "$root/ign" IgnoreDiskSpace=1

printf 'abc' > "$root/src/one/three.txt"
printf 'more text\r\n' > "$root/src/more/m.txt"
printf 'deeper' > "$root/src/more/sub/d.txt"

mount -t tmpfs -o size=1536k tmpfs "$small" || fail "cannot mount a tmpfs (needs root)"
[ -L "$drive" ] && [ ! -e "$drive" ] && rm -f "$drive"   # left by a run that was killed
[ -e "$drive" ] && fail "drive T: is taken in this prefix"
ln -s "$small" "$drive"

session() {   # file sessionName archive destDir overwrite dirs(xml) [type]
  S_NAME=$2 S_ARCHIVE=$3 S_DEST=$4 S_OVERWRITE=$5 S_DIRS=$6 S_TYPE=${7:-1} session_file "$1"
}
dir() { dirs_xml "$1"; }

# Runs the program (folder prog or ign) on a session and wants that exit code.
run() {   # program-folder want args...
  local prog=$1 want=$2; shift 2
  timeout "$wait_bound" wine "$win\\$prog\\korvane.exe" "$@" >/dev/null 2>&1
  local rc=$?
  [ $rc -eq 124 ] && fail "korvane.exe $* did not end within $wait_bound s (waiting for a person?)"
  [ $rc -eq "$want" ] || fail "korvane.exe $* exited with $rc, want $want: $(cat "$root/$prog/temp/"*.log 2>/dev/null | tail -n 8)"
}

# The report holds these lines (each in full), in this order.
report_has() {   # program-folder report-name line...
  local file="$root/$1/temp/$2.log"; shift 2
  [ -f "$file" ] || fail "no report $file"
  $PY - "$file" "$@" <<'PYEOF' || fail "report $file"
import sys
lines = [l.rstrip("\r\n") for l in open(sys.argv[1], encoding="utf-8")]
pos = 0
for want in sys.argv[2:]:
    while pos < len(lines) and lines[pos] != want: pos += 1
    if pos == len(lines): sys.exit("missing or out of order: %r in\n  %s" % (want, "\n  ".join(lines)))
    pos += 1
PYEOF
}
report_ends() {   # program-folder report-name last-lines...
  local file="$root/$1/temp/$2.log"; shift 2
  $PY - "$file" "$@" <<'PYEOF' || fail "end of report $file"
import sys
lines = [l.rstrip("\r\n") for l in open(sys.argv[1], encoding="utf-8")]
want = sys.argv[2:]
if lines[-len(want):] != want: sys.exit("ends with %r, want %r" % (lines[-len(want):], want))
PYEOF
}

strays() { ls -A "$1" | grep -v -x -F -f <(printf '%s\n' "${@:2}"); }

# 1. One small file: done, exit 0; the report ends with what the archive holds.
session "$root/one.xml" "One" "One.zip" "$win\\dest" False "$(dir "$win\\src\\one")"
run prog 0 "$win\\one.xml"
peers_ok "$root/dest/One.zip"
report_ends prog One "Archive: $win\\dest\\One.zip" "Files archived: 1 (3 bytes)" "Left out: 0" "Backup done"
ok "one file: exit 0, archive read by the peers, summary lines"

# 2. A ticked folder that does not exist: the rest is backed up, the folder is
#    a red line, exit 1.
session "$root/gone.xml" "Gone" "Gone.zip" "$win\\dest" False "$(dir "$win\\src\\one")$(dir "$win\\src\\nothing here")"
run prog 1 "$win\\gone.xml"
peers_ok "$root/dest/Gone.zip"
report_has prog Gone "$win\\src\\nothing here not found, skipped."
report_ends prog Gone "Archive: $win\\dest\\Gone.zip" "Files archived: 1 (3 bytes)" "Left out: 1" "Backup done"
ok "missing ticked folder: named, exit 1"

# 3. Session files that cannot be used: exit 3, the reason in the report.
printf 'not xml at all' > "$root/bad.xml"
head -c 200 "$root/one.xml" > "$root/cut.xml"
run prog 3 "$win\\bad.xml"
report_has prog bad "$win\\bad.xml is not a valid Korvane Session file." "Operation aborted"
run prog 3 "$win\\cut.xml"
report_has prog cut "$win\\cut.xml is not a valid Korvane Session file."
run prog 3 "$win\\absent.xml"
report_has prog absent "$win\\absent.xml does not exist."
cp "$root/one.xml" "$root/held.xml"; hold_open "$win\\held.xml"
run prog 3 "$win\\held.xml"; release_held
report_has prog held "$win\\held.xml cannot be opened: Sharing violation." "Operation aborted"
# Held open for writing by a program that shares it (an editor): it loads and runs.
cp "$root/one.xml" "$root/shared.xml"; hold_open "$win\\shared.xml" shared
run prog 0 "$win\\shared.xml"; release_held
peers_ok "$root/dest/One_1.zip"; rm "$root/dest/One_1.zip"
ok "bad, truncated, missing and held session files: exit 3, said as such; one held with sharing runs"

# 4. Refused archive names, from the command line and from the session: exit 3.
run prog 3 "$win\\one.xml" "..\\..\\escape"
report_has prog One "The archive name has been changed to ..\\..\\escape.zip" "Operation aborted"
session "$root/name.xml" "Name" "a:b.zip" "$win\\dest" False "$(dir "$win\\src\\one")"
run prog 3 "$win\\name.xml"
report_has prog Name "Operation aborted"
[ -z "$(strays "$root/dest" One.zip Gone.zip)" ] || fail "refused names wrote: $(strays "$root/dest" One.zip Gone.zip)"
ok "refused archive names: exit 3, nothing written"

# 5. A disc session on a machine without a recorder: exit 3.
session "$root/disc.xml" "Disc" "D.zip" "" False "$(dir "$win\\src\\one")" 0
run prog 3 "$win\\disc.xml"
report_has prog Disc "Operation aborted"
ok "disc session without a recorder: exit 3"

# 6. A destination folder that does not exist: exit 2, no box.
session "$root/nodest.xml" "NoDest" "N.zip" "$win\\no such folder" False "$(dir "$win\\src\\one")"
run prog 2 "$win\\nodest.xml"
report_has prog NoDest "The destination folder is not a valid directory! ($win\\no such folder)" "Operation aborted"
ok "missing destination folder: exit 2"

# 7. Overwrite, on the small drive: a good run replaces the old archive and
#    leaves nothing else behind.
session "$root/small.xml" "Small" "S.zip" "T:\\" True "$(dir "$win\\src\\more")"
run prog 0 "$win\\small.xml"
peers_ok "$small/S.zip"
old=$(sha256sum < "$small/S.zip")
printf 'changed' > "$root/src/more/m.txt"
run prog 0 "$win\\small.xml"
peers_ok "$small/S.zip"
[ "$(sha256sum < "$small/S.zip")" != "$old" ] || fail "Overwrite did not replace S.zip"
[ -z "$(strays "$small" S.zip)" ] || fail "left behind on T: $(strays "$small" S.zip)"
unzip -p "$small/S.zip" "C/$name/src/more/m.txt" | grep -qx changed || fail "S.zip does not hold the new m.txt"
ok "Overwrite: the new archive replaces the old one, nothing else left"

# 8. Too little free space and no IgnoreDiskSpace: stopped before writing, exit 2.
old=$(sha256sum < "$small/S.zip")
head -c 2000000 /dev/urandom > "$root/src/more/noise.bin"
run prog 2 "$win\\small.xml"
report_has prog Small "Operation aborted"
grep -q "^Warning: the disk free space may not be enough" "$root/prog/temp/Small.log" || fail "no free-space line"
[ "$(sha256sum < "$small/S.zip")" = "$old" ] || fail "S.zip changed by a run that stopped"
[ -z "$(strays "$small" S.zip)" ] || fail "left behind on T: $(strays "$small" S.zip)"
ok "too little free space: stopped before writing, exit 2, old archive unchanged"

# 9. The same with IgnoreDiskSpace: the disk fills up, the run fails with exit
#    2, the old archive is byte-identical and no partial file is left.
run ign 2 "$win\\small.xml"
report_has ign Small "Operation aborted"
grep -qi "not enough space\|disk is full\|disk full" "$root/ign/temp/Small.log" \
  || fail "the report does not say the disk is full: $(cat "$root/ign/temp/Small.log")"
[ "$(sha256sum < "$small/S.zip")" = "$old" ] || fail "S.zip changed by a run that failed on a full disk"
[ -z "$(strays "$small" S.zip)" ] || fail "left behind on T: $(strays "$small" S.zip)"
peers_ok "$small/S.zip"
ok "disk full under Overwrite: exit 2, old archive byte-identical, nothing left behind"

# 9b. The temp folder on the full drive: the report goes to the user's temp
#     folder, its last line says where, and no empty report is left on T:.
program_folder "$root/full" "TempDir=T:\\"
head -c 2000000 /dev/zero > "$small/filler" 2>/dev/null
session "$root/fulltemp.xml" "$name-fulltemp" "F.zip" "$win\\dest" False "$(dir "$win\\src\\one")"
run full 0 "$win\\fulltemp.xml"
report=$(find "$WINEPREFIX/drive_c/users" -path '*Temp*' -name "$name-fulltemp.log" | head -n 1)
tail -n 1 "$report" | grep -qF "The report has been saved as " || fail "no report in the user's temp folder saying so"
[ -z "$(strays "$small" S.zip filler)" ] || fail "left behind on T: $(strays "$small" S.zip filler)"
rm -f "$small/filler" "$report"
ok "full temp drive: the report saved elsewhere and named, nothing left on T:"

# 10. Names outside the ANSI code page and a path past 260 characters: backed
#     up, read back exactly by unzip -l, 7z l and Python's zipfile (UTF-8 name
#     flag), the report and the session file still say what they declare.
deep="plain/$(printf 'd%02d_xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx/' 0 1 2 3 4 5)deep file.txt"
$PY - "$root" "$win" "$deep" <<'PYEOF' || fail "names fixture"
import os, sys
root, win, deep = sys.argv[1:4]
def put(rel, data):
    p = os.path.join(root, "names", *rel.split("/"))
    os.makedirs(os.path.dirname(p), exist_ok=True)
    open(p, "wb").write(data)
put("Документы/отчёт за год.txt", "отчёт".encode())
put("Документы/подпапка/ещё.bin", bytes(range(256)))
put("資料/数据.txt", "数据".encode())
put("plain/Ünïcödé ñ.txt", b"latin")
put(deep, b"far down")
dirs = "".join('<dir value="%s\\names\\%s"/>' % (win, d) for d in ("Документы", "資料", "plain"))
xml = open(os.path.join(root, "one.xml"), encoding="latin-1").read()
xml = xml.replace('value="One"', 'value="Имена"').replace('value="One.zip"', 'value="Names.zip"')
start, end = xml.index("<SelectedDirectories>"), xml.index("</SelectedDirectories>")
xml = xml[:start] + "<SelectedDirectories>" + dirs + xml[end:]
open(os.path.join(root, "names.xml"), "wb").write(xml.encode("latin-1", "xmlcharrefreplace"))
PYEOF
cp "$root/names.xml" "$root/names.before"
run prog 0 "$win\\names.xml"
zip="$root/dest/Names.zip"
peers_ok "$zip"
want=("Документы/отчёт за год.txt" "Документы/подпапка/" "Документы/подпапка/ещё.bin" "資料/数据.txt"
  "plain/Ünïcödé ñ.txt" "$deep")
listed=$(LC_ALL=C.UTF-8 unzip -l "$zip")
sevenz=$(7z l -slt "$zip" | sed -n 's/^Path = //p')
for w in "${want[@]}"; do
  grep -qF "C/$name/names/$w" <<<"$listed" || fail "unzip -l does not list $w: $listed"
  grep -qxF "C/$name/names/${w%/}" <<<"$sevenz" || fail "7z l does not list $w: $sevenz"
done
$PY - "$zip" "$root/names" "C/$name/names/" "${want[@]}" <<'PYEOF' || fail "zipfile names"
import os, sys, zipfile
zip, src, prefix, want = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
with zipfile.ZipFile(zip) as z:
    for w in want:
        info = z.getinfo(prefix + w)
        if not w.isascii() and not info.flag_bits & 0x800: sys.exit("no UTF-8 flag on " + w)
        if not w.endswith("/") and z.read(info) != open(os.path.join(src, *w.split("/")), "rb").read():
            sys.exit("content differs: " + w)
PYEOF
report_has prog "Имена" "Archive: $win\\dest\\Names.zip" "Files archived: 5 (285 bytes)" "Left out: 0" "Backup done"
$PY - "$root/names.before" "$root/names.xml" <<'PYEOF' || fail "session file after the run"
import sys, xml.etree.ElementTree as ET
def dirs(p):
    head = open(p, "rb").read(60)
    if b'encoding="ISO-8859-1"' not in head: sys.exit("declaration changed: %r" % head)
    return [d.get("value") for d in ET.parse(p).getroot().find("SelectedDirectories")]
if dirs(sys.argv[1]) != dirs(sys.argv[2]): sys.exit("folders changed: %r" % dirs(sys.argv[2]))
PYEOF
ok "Cyrillic, CJK and long paths: archived, listed exactly by unzip, 7z and zipfile"

# 11. A name of 254 characters run twice into a drive's root: the next free
#     name would be too long, said as such (exit 2); the first archive stays.
long=$(printf 'L%.0s' $(seq 250)).zip
session "$root/long.xml" "Long" "$long" "T:\\" False "$(dir "$win\\src\\one")"
run prog 0 "$win\\long.xml"; old=$(sha256sum < "$small/$long")
run prog 2 "$win\\long.xml"
report_has prog Long "Korvane has failed to find a free name for the backup. The next free name would be longer than a file name or a path may be: T:\\${long%.zip}_1.zip"
[ "$(sha256sum < "$small/$long")" = "$old" ] && peers_ok "$small/$long" || fail "the first archive changed"
ok "a name of 254 characters run twice: the next name too long, said, exit 2, first archive kept"

echo "unattended: passed"
