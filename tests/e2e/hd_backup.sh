#!/usr/bin/env bash
# Unattended hard-disk backups: `korvane.exe <session file>` under Wine over a
# prepared tree (nested folders, empty files, an empty folder, names with
# spaces). Each run must end by itself with exit code 0 (1 when a file was
# left out); the archive must hold
# exactly the selected files with their contents and pass unzip -t, 7z t and
# Python's zipfile; the report file ends with "Backup done"; only LastBackup
# changes in the session file; later runs take X_1.zip, X_1_2.zip; masks
# select; a file held open without sharing is skipped with its line.
set -uo pipefail
e2e_name=hd_backup
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-hd-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
trap 'rm -rf "$root"' EXIT
rm -rf "$root"
mkdir -p "$root/dest" "$root/dest2"
cp build/dist/korvane.exe "$root/"

# The tree: docs (nested, spaces, empty file, empty folder), "more stuff",
# and "not ticked" which must stay out.
$PY - "$root/src" <<'PYEOF'
import os, random, sys
base = sys.argv[1]
rnd = random.Random(8)
def put(rel, data):
    path = os.path.join(base, *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
text = b"".join(b"line %d of a text file\r\n" % i for i in range(3000))
put("docs/a.txt", text)
put("docs/report one.doc", bytes(rnd.getrandbits(8) for _ in range(70000)))
put("docs/empty.txt", b"")
put("docs/scratch.tmp", b"temporary")
put("docs/sub dir/deep/deeper.txt", text[:5000])
put("docs/sub dir/draft notes.txt", b"draft")
put("docs/sub dir/picture.bin", bytes(rnd.getrandbits(8) for _ in range(300000)))
put("docs/locked.bin", b"L" * 4096)
os.makedirs(os.path.join(base, "docs", "zero folder"))
put("more stuff/b c.txt", b"spaces in names")
put("more stuff/zeros.dat", bytes(200000))
put("not ticked/no.txt", b"must not be archived")
PYEOF

# A hard-disk session over the two ticked folders.
session() {   # file archive dest subfolders filtersActive include exclude
  S_NAME="HD e2e" S_ARCHIVE=$2 S_DEST=$3 S_SUBFOLDERS=$4 S_FILTERS=$5 S_INCLUDE=$6 S_EXCLUDE=$7 \
    S_DIRS=$(dirs_xml "$win\\src\\docs" "$win\\src\\more stuff\\") session_file "$1"
}

run() {   # session file (Windows path) [exit code]; must end by itself with that code (0)
  timeout 240 wine "$win\\korvane.exe" "$1" >/dev/null 2>&1
  local rc=$?
  [ $rc -eq 124 ] && fail "the run of $1 did not end within 240 s"
  [ $rc -eq "${2:-0}" ] || fail "the run of $1 exited with $rc, not ${2:-0}"
}

# The archive holds exactly these source paths (relative to src; folders end
# with "/"), each entry named drive letter + path, with the file's bytes.
same_entries() {   # archive, expected names...
  local zip=$1; shift
  $PY - "$zip" "$root/src" "$name" "$@" <<'PYEOF' || fail "entries of $zip"
import sys, zipfile, zlib, os
zip, src, top, want = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
prefix = "C/" + top + "/src/"
with zipfile.ZipFile(zip) as z:
    names = z.namelist()
    if len(names) != len(set(names)): sys.exit("duplicate entries: %r" % names)
    got = sorted(n[len(prefix):] if n.startswith(prefix) else "!" + n for n in names)
    if got != sorted(want):
        sys.exit("entries differ:\n  got  %r\n  want %r" % (got, sorted(want)))
    for info in z.infolist():
        if info.filename.endswith("/"): continue
        path = os.path.join(src, *info.filename[len(prefix):].split("/"))
        data = open(path, "rb").read()
        if z.read(info) != data or info.CRC != (zlib.crc32(data) & 0xFFFFFFFF):
            sys.exit("content or CRC differs: " + info.filename)
PYEOF
}

everything=("docs/a.txt" "docs/report one.doc" "docs/empty.txt" "docs/scratch.tmp" "docs/locked.bin"
  "docs/sub dir/" "docs/sub dir/deep/" "docs/sub dir/deep/deeper.txt" "docs/sub dir/draft notes.txt"
  "docs/sub dir/picture.bin" "docs/zero folder/" "more stuff/b c.txt" "more stuff/zeros.dat")

# 1. A whole run.
session "$root/hd.xml" "X.zip" "$win\\dest" True False "" ""
cp "$root/hd.xml" "$root/hd.before"
run "$win\\hd.xml"
[ -f "$root/dest/X.zip" ] || fail "no archive in the destination"
peers_ok "$root/dest/X.zip"
same_entries "$root/dest/X.zip" "${everything[@]}"
ok "archive X.zip (entries, contents, CRCs, unzip/7z/zipfile)"

report="$root/temp/HD e2e.log"
[ -f "$report" ] || fail "no report file"
$PY - "$report" "$win\\dest" <<'PYEOF' || fail "report lines"
import sys
lines = [l.rstrip("\r\n") for l in open(sys.argv[1], encoding="latin-1")]
order = ["Backup started at ", "Checking folders to be added...", "Compressing files... [", "Zip file created [",
         "The backup zip file has been created in the selected folder: " + sys.argv[2], "Zip file created in ",
         "Backup done"]
pos = 0
for want in order:
    while pos < len(lines) and not lines[pos].startswith(want): pos += 1
    if pos == len(lines): sys.exit("missing or out of order: %r in %r" % (want, lines))
    pos += 1
if lines[-1] != "Backup done": sys.exit("last line %r" % lines[-1])
if any("Operation aborted" in l for l in lines): sys.exit("aborted")
PYEOF
ok "report file in order, ending with Backup done"

$PY - "$root/hd.before" "$root/hd.xml" <<'PYEOF' || fail "session file"
import sys, xml.etree.ElementTree as ET
def load(p):
    t = ET.parse(p).getroot()
    lb = t.find("GenericOptions/LastBackup")
    v = lb.get("value"); lb.set("value", "")
    for e in t.iter():   # layout whitespace is not content
        if e.text is not None and not e.text.strip(): e.text = None
        if e.tail is not None and not e.tail.strip(): e.tail = None
    return ET.tostring(t, encoding="unicode"), v
a, va = load(sys.argv[1]); b, vb = load(sys.argv[2])
if a != b: sys.exit("something besides LastBackup changed:\n%s\n%s" % (a, b))
if va == vb or not vb.strip(): sys.exit("LastBackup not rewritten: %r -> %r" % (va, vb))
print("LastBackup:", va, "->", vb)
PYEOF
ok "session file: only LastBackup changed"

# 2. Running again never overwrites: X_1.zip, then X_1_2.zip.
sum1=$(sha256sum < "$root/dest/X.zip")
run "$win\\hd.xml"
run "$win\\hd.xml"
[ -f "$root/dest/X_1.zip" ] && [ -f "$root/dest/X_1_2.zip" ] || fail "next names: $(ls "$root/dest")"
[ "$(sha256sum < "$root/dest/X.zip")" = "$sum1" ] || fail "X.zip was changed"
[ "$(ls "$root/dest" | wc -l)" -eq 3 ] || fail "unexpected files: $(ls "$root/dest")"
peers_ok "$root/dest/X_1_2.zip"
same_entries "$root/dest/X_1_2.zip" "${everything[@]}"
ok "second and third runs: X_1.zip, X_1_2.zip, X.zip untouched"

# 3. Masks: inclusion by folder and mask, exclusions by name.
session "$root/masks.xml" "M.zip" "$win\\dest2" True True "*.txt;*.doc" "*.tmp;draft*"
run "$win\\masks.xml"
peers_ok "$root/dest2/M.zip"
same_entries "$root/dest2/M.zip" "docs/a.txt" "docs/report one.doc" "docs/empty.txt" "docs/sub dir/deep/deeper.txt" \
  "more stuff/b c.txt"
ok "masks"

# 4. Without subfolders: the ticked folders' own files.
session "$root/flat.xml" "F.zip" "$win\\dest2" False False "" ""
run "$win\\flat.xml"
peers_ok "$root/dest2/F.zip"
same_entries "$root/dest2/F.zip" "docs/a.txt" "docs/report one.doc" "docs/empty.txt" "docs/scratch.tmp" \
  "docs/locked.bin" "more stuff/b c.txt" "more stuff/zeros.dat"
ok "without subfolders"

# 5. A file held open without sharing by another process is skipped with its line.
hold_open "$win\\src\\docs\\locked.bin"
session "$root/locked.xml" "L.zip" "$win\\dest2" True False "" ""
run "$win\\locked.xml" 1   # done, a file left out
release_held
peers_ok "$root/dest2/L.zip"
rest=()
for e in "${everything[@]}"; do [ "$e" = "docs/locked.bin" ] || rest+=("$e"); done
same_entries "$root/dest2/L.zip" "${rest[@]}"
grep -qF "$win\\src\\docs\\locked.bin is locked by another process, skipped." "$root/temp/HD e2e.log" \
  || fail "no locked-file line in the report: $(cat "$root/temp/HD e2e.log")"
tail -n1 "$root/temp/HD e2e.log" | grep -q "Backup done" || fail "the locked-file run did not end with Backup done"
ok "locked file skipped with its line, the rest archived"

echo "hd_backup: passed"
