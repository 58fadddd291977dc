#!/usr/bin/env bash
# The update engine driven in the backup program's order (zipdrive): the
# AddFiles sequence, exclusions, a file locked by another process, retry,
# abort and cancel with rollback, appending; and 100,000 small files (Zip64
# entry count, checked by the peers).
. "$(dirname "$0")/zip_common.bash"

tree=$work/tree
mkdir -p "$tree/flat/sub" "$tree/rec/a/b" "$tree/rec/empty" "$tree/rec/dir.xps" "$tree/rec/cache"
echo f1 > "$tree/flat/f1.txt"; head -c 70000 /dev/urandom > "$tree/flat/f2.bin"
echo inner > "$tree/flat/sub/inner.txt"
echo r1 > "$tree/rec/r1.txt"; seq 1 5000 > "$tree/rec/a/r2.txt"; echo r3 > "$tree/rec/a/b/r3.txt"
echo tmp > "$tree/rec/x.tmp"; echo y > "$tree/rec/dir.xps/y.txt"; echo c > "$tree/rec/cache/c.txt"
W=$(winpath "$tree")
prefix="Z$tree"   # stored names: the drive letter, then the full path

# Entry names of an archive below the tree, sorted, one line.
names() { unzip -Z1 "$1" | sed "s|^$prefix/||" | sort | tr '\n' ' '; }

step "the backup program's AddFiles sequence"
zipdrive "$(winpath "$work/app.zip")" --flat "$W\\flat\\*.*" --recursive "$W\\rec\\*.*" --exclude '*.tmp;cache\*;*.xps'
want="flat/f1.txt flat/f2.bin rec/a/ rec/a/b/ rec/a/b/r3.txt rec/a/r2.txt rec/dir.xps/ rec/dir.xps/y.txt rec/empty/ rec/r1.txt "
[ "$(names "$work/app.zip")" = "$want" ] || fail "entries: $(names "$work/app.zip")"
peers_ok "$work/app.zip"
$PY - "$work/app.zip" "$prefix" "$want" <<'PYEOF' || fail "python's entry list"
import sys, zipfile
names = sorted(n[len(sys.argv[2]) + 1:] for n in zipfile.ZipFile(sys.argv[1]).namelist())
assert names == sys.argv[3].split(), names
PYEOF

step "a file held by another process without sharing"
rm -f "$work/ready"
wine "$DIST/zipdrive.exe" --hold "$W\\rec\\a\\r2.txt" "$(winpath "$work/ready")" &
holder=$!
# Bounded only against a hang: Wine starts slowly on a busy machine.
for _ in $(seq 1 1200); do [ -f "$work/ready" ] && break; sleep 0.1; done
[ -f "$work/ready" ] || fail "the holder did not start"
out=$(zipdrive "$(winpath "$work/locked.zip")" --flat "" --recursive "$W\\rec\\*.*")
rm -f "$work/ready"; wait $holder
echo "$out"
echo "$out" | has "^failure: .*r2.txt native=33 code=12 " || fail "failure event for the locked file"
unzip -Z1 "$work/locked.zip" | has 'r2.txt' && fail "the locked file got an entry"
unzip -Z1 "$work/locked.zip" | has 'rec/a/b/r3.txt' || fail "the other files are missing"
peers_ok "$work/locked.zip"

step "retry repeats the file"
out=$(zipdrive "$(winpath "$work/retry.zip")" --flat "$W\\flat\\*.*" --recursive "" --retry-locked "$W\\flat\\f1.txt")
echo "$out" | has "^failure: .*f1.txt" || fail "no failure before the retry"
unzip -Z1 "$work/retry.zip" | has 'flat/f1.txt$' || fail "retried file missing"
peers_ok "$work/retry.zip"

step "abort and cancel leave an earlier archive byte-identical"
zipdrive "$(winpath "$work/earlier.zip")" --flat "$W\\flat\\*.*" --recursive "" >/dev/null
before=$(sha256sum < "$work/earlier.zip")
zipdrive "$(winpath "$work/earlier.zip")" --append --flat "" --recursive "$W\\rec\\*.*" --cancel-at 3 | has '^entries' || true
[ "$(sha256sum < "$work/earlier.zip")" = "$before" ] || fail "cancel in the middle changed the archive"
zipdrive "$(winpath "$work/earlier.zip")" --append --flat "" --recursive "$W\\rec\\*.*" --cancel-at 0 >/dev/null
[ "$(sha256sum < "$work/earlier.zip")" = "$before" ] || fail "cancel at the first event changed the archive"
rm -f "$work/ready"
wine "$DIST/zipdrive.exe" --hold "$W\\rec\\a\\b\\r3.txt" "$(winpath "$work/ready")" &
holder=$!
for _ in $(seq 1 1200); do [ -f "$work/ready" ] && break; sleep 0.1; done
[ -f "$work/ready" ] || fail "the holder did not start"
zipdrive "$(winpath "$work/earlier.zip")" --append --flat "" --recursive "$W\\rec\\*.*" --abort-locked >/dev/null
rm -f "$work/ready"; wait $holder
[ "$(sha256sum < "$work/earlier.zip")" = "$before" ] || fail "abort changed the archive"
zipdrive "$(winpath "$work/fresh.zip")" --flat "$W\\flat\\*.*" --recursive "" --cancel-at 0 >/dev/null
[ "$(stat -c %s "$work/fresh.zip")" = 22 ] || fail "cancel at the first event must leave an empty archive"
7z t "$work/fresh.zip" >/dev/null || fail "7z on the empty archive"
$PY -c "import sys, zipfile; assert zipfile.ZipFile(sys.argv[1]).namelist() == []" "$work/fresh.zip" || fail "python on the empty archive"

step "appending keeps earlier entries byte-identical"
cp "$work/earlier.zip" "$work/append.zip"
zipdrive "$(winpath "$work/append.zip")" --append --flat "" --recursive "$W\\rec\\*.*" >/dev/null
$PY - "$work/earlier.zip" "$work/append.zip" <<'PYEOF' || fail "appended archive"
import sys, struct, zipfile
old, new = open(sys.argv[1], 'rb').read(), open(sys.argv[2], 'rb').read()
cd_offset = struct.unpack('<I', old[-6:-2])[0]
assert new[:cd_offset] == old[:cd_offset], "old entries changed"
a, b = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2])
for i in a.infolist():
    j = b.getinfo(i.filename)
    assert (j.header_offset, j.CRC, j.compress_size) == (i.header_offset, i.CRC, i.compress_size), i.filename
assert len(b.namelist()) > len(a.namelist())
PYEOF
peers_ok "$work/append.zip"

step "adding to a split archive is refused and leaves the set readable"
splitsrc=$work/splitsrc; split=$work/split; mkdir -p "$splitsrc" "$split" "$work/newsrc"
head -c 200000 /dev/urandom > "$splitsrc/rand.bin"; seq 1 3000 > "$splitsrc/seq.txt"; echo new > "$work/newsrc/new.txt"
zipdrive "$(winpath "$split/set.zip")" --flat "$(winpath "$splitsrc")\\*.*" --recursive "" --split 65536 >/dev/null
[ -f "$split/set.Z01" ] && [ -f "$split/set.Z02" ] || fail "three volumes expected: $(ls "$split")"
before=$(cat "$split"/set.* | sha256sum)
out=$(zipdrive "$(winpath "$split/set.zip")" --append --flat "$(winpath "$work/newsrc")\\new.txt" --recursive "") || true
echo "$out" | has "Native error: 00052" || fail "the add was not refused: $out"
[ "$(cat "$split"/set.* | sha256sum)" = "$before" ] || fail "the refused add changed the set"
# unzip and Python's zipfile read no split sets; 7z does, naming the volumes in lower case.
joined=$work/joined; mkdir -p "$joined"
for f in "$split"/set.Z*; do b=$(basename "$f"); ln -s "$f" "$joined/set.z${b#set.Z}"; done
ln -s "$split/set.zip" "$joined/set.zip"
7z t "$joined/set.zip" >"$work/7zs.log" 2>&1 || { tail -20 "$work/7zs.log"; fail "7z t on the split set"; }
grep -q "Everything is Ok" "$work/7zs.log" || fail "7z on the split set"

step "a stub in front, and an archive whose directory was lost, added to"
head -c 3000 /dev/urandom > "$work/stub.bin"
zipdrive "$(winpath "$work/sfx.zip")" --flat "$W\\flat\\*.*" --recursive "" --stub "$(winpath "$work/stub.bin")" >/dev/null
cmp -n 3000 "$work/stub.bin" "$work/sfx.zip" || fail "the stub does not start the archive"
peers_ok "$work/sfx.zip"
$PY - "$work/earlier.zip" "$work/lost.zip" <<'PYEOF'
import sys, struct
b = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(b[:struct.unpack('<I', b[-6:-2])[0]])
PYEOF
zipdrive "$(winpath "$work/lost.zip")" --append --flat "" --recursive "$W\\rec\\*.*" >/dev/null
peers_ok "$work/lost.zip"
unzip -Z1 "$work/lost.zip" | has 'flat/f1.txt$' || fail "the entries found again are missing"
unzip -Z1 "$work/lost.zip" | has 'rec/a/b/r3.txt$' || fail "the added entries are missing"

step "an archive a streaming writer made (data descriptors), its first entry replaced"
stream=$work/stream; mkdir -p "$stream"
echo one > "$stream/s1.txt"; seq 1 3000 > "$stream/s2.txt"; head -c 30000 /dev/urandom > "$stream/s3.bin"
# Python's zipfile writing to a pipe cannot seek back: every entry gets flag
# bit 3 and a descriptor; the last one's has 8-byte sizes (a Zip64 entry).
$PY - "$stream" "Z$stream" <<'PYEOF' | cat > "$work/streamed.zip"
import os, sys, zipfile
with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:
    for n in ('s1.txt', 's2.txt', 's3.bin'):
        with z.open(sys.argv[2] + '/' + n, 'w', force_zip64=n.endswith('.bin')) as w:
            w.write(open(os.path.join(sys.argv[1], n), 'rb').read())
PYEOF
$PY - "$work/streamed.zip" "$work/streamed-lost.zip" <<'PYEOF' || fail "the streaming writer's archive"
import sys, struct, zipfile
assert all(i.flag_bits & 8 for i in zipfile.ZipFile(sys.argv[1]).infolist()), "no data descriptors"
b = open(sys.argv[1], 'rb').read()
open(sys.argv[2], 'wb').write(b[:struct.unpack('<I', b[-6:-2])[0]])   # and one whose directory was lost
PYEOF
echo "one, changed" > "$stream/s1.txt"
for z in streamed streamed-lost; do
  zipdrive "$(winpath "$work/$z.zip")" --append --flat "$(winpath "$stream")\\s1.txt" --recursive "" | has '^entries: 3 written: 1' \
    || fail "$z: the first entry was not replaced"
  peers_ok "$work/$z.zip"
  # A reader of the stream: local headers in order, each entry's data inflated, its descriptor checked.
  $PY - "$work/$z.zip" <<'PYEOF' || fail "$z: reading the stream"
import sys, struct, zlib
b, pos, names = open(sys.argv[1], 'rb').read(), 0, []
while b[pos:pos + 4] == b'PK\x03\x04':
    _, _, flags, method, _, _, crc, csize, usize, nlen, xlen = struct.unpack('<IHHHHHIIIHH', b[pos:pos + 30])
    names.append(b[pos + 30:pos + 30 + nlen].decode())
    wide = b[pos + 30 + nlen:pos + 32 + nlen] == b'\x01\x00' if xlen else False   # Zip64 extra: 8-byte sizes
    pos += 30 + nlen + xlen
    assert method == 8 or not flags & 8, names[-1]
    z = zlib.decompressobj(-15) if method == 8 else None
    data = z.decompress(b[pos:]) if z else b[pos:pos + csize]
    used = len(b) - pos - len(z.unused_data) if z else csize
    pos += used
    if flags & 8:
        pos += 4 if b[pos:pos + 4] == b'PK\x07\x08' else 0
        crc, csize, usize = struct.unpack('<IQQ' if wide else '<III', b[pos:pos + (20 if wide else 12)])
        pos += 20 if wide else 12
    assert (used, len(data), zlib.crc32(data)) == (csize, usize, crc), names[-1]
assert b[pos:pos + 4] == b'PK\x01\x02' and len(names) == 3, names
assert zlib.decompress(b[b.index(b's1.txt') + 6:], -15) == b'one, changed\n'
PYEOF
done

step "spanning onto drive A: collects each volume in memory"
# The prefix's drive A: is a folder for this step.
floppy=$work/floppy; mkdir -p "$floppy" "$work/spansrc"
[ -e "$WINEPREFIX/dosdevices/a:" ] && fail "drive A: is already taken in the Wine prefix"
ln -s "$floppy" "$WINEPREFIX/dosdevices/a:"
trap 'rm -f "$WINEPREFIX/dosdevices/a:"; rm -rf "$work"' EXIT
head -c 12000000 /dev/urandom > "$work/spansrc/r.bin"
out=$(zipdrive 'A:\set.zip' --flat "$(winpath "$work/spansrc")\\*.*" --recursive "" --span 5000000)
rm -f "$WINEPREFIX/dosdevices/a:"
echo "$out" | has '^entries: 1 written: 1' || fail "spanned archive: $out"
# The first volume is on the disk all at once: nothing of it before it is full.
sizes=$(echo "$out" | sed -n 's/^first volume on disk: //p' | sort -u | tr '\n' ' ')
[ "$sizes" = "0 5000000 " ] || fail "the first volume went to the disk piecemeal: $sizes"
[ "$(stat -c %s "$floppy/set_001.zip")" = 5000000 ] && [ "$(stat -c %s "$floppy/set_002.zip")" = 5000000 ] || fail "volume sizes"

step "100,000 small files"
many=$work/many; mkdir -p "$many"
$PY - "$many" <<'PYEOF'
import os, sys
root = sys.argv[1]
for d in range(100):
    p = os.path.join(root, "d%03d" % d); os.mkdir(p)
    for f in range(1000):
        with open(os.path.join(p, "%05d.txt" % f), "w") as fh: fh.write("file %d of folder %d\n" % (f, d))
PYEOF
zipbench "$(winpath "$work/many.zip")" "$(winpath "$many")" --level 9 | tail -3
[ "$(unzip -Z1 "$work/many.zip" | wc -l)" = 100100 ] || fail "100,000 files and 100 folders"
peers_ok "$work/many.zip"
$PY - "$work/many.zip" <<'PYEOF' || fail "Zip64 end records for 100,100 entries"
import sys, struct
b = open(sys.argv[1], 'rb').read()
assert b[-22:-18] == b'PK\x05\x06'
assert struct.unpack('<HH', b[-14:-10]) == (0xFFFF, 0xFFFF), "entry counts saturate"
assert b[-42:-38] == b'PK\x06\x07', "Zip64 locator"
off, = struct.unpack('<Q', b[-34:-26])
assert b[off:off + 4] == b'PK\x06\x06'
assert struct.unpack('<QQ', b[off + 24:off + 40]) == (100100, 100100)
PYEOF
echo "zip update: all passed"
