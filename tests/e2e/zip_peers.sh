#!/usr/bin/env bash
# Archives written by the engine (through zipbench) checked by real readers:
# a mixed tree, encryption, split volumes, and Zip64 files of 0xFFFFFFFF and
# 0x100000000 bytes (the Zip64 entry count is checked with 100,000 files in
# zip_update.sh).
. "$(dirname "$0")/zip_common.bash"

step "mixed tree"
src=$work/mixed
mkdir -p "$src/nested/deeper/deepest" "$src/empty folder" "$src/with space"
: > "$src/empty.txt"
: > "$src/nested/also empty.bin"
head -c 2000000 /dev/urandom > "$src/nested/random.bin"
seq 1 300000 > "$src/nested/deeper/numbers.txt"
printf 'hello\r\nworld\r\n' > "$src/with space/a file.txt"
head -c 5000000 /dev/zero > "$src/nested/deeper/deepest/zeros.dat"
echo "read only" > "$src/readonly.txt"; chmod a-w "$src/readonly.txt"
touch -d '2019-03-04 05:06:08' "$src/nested/random.bin"
out=$(zipbench "$(winpath "$work/mixed.zip")" "$(winpath "$src")")
echo "$out"
echo "$out" | tail -1 | has -E '^MB/s: [0-9.]+ size: [0-9]+$' || fail "zipbench's last line"
peers_ok "$work/mixed.zip"
$PY - "$work/mixed.zip" "$src" <<'PYEOF' || fail "mixed tree contents"
import os, sys, time, zipfile, zlib
zpath, root = sys.argv[1], sys.argv[2]
z = zipfile.ZipFile(zpath)
names = set(i.filename for i in z.infolist())
want = set()
for d, dirs, files in os.walk(root):
    rel = os.path.relpath(d, root).replace(os.sep, '/')
    for x in dirs: want.add((x if rel == '.' else rel + '/' + x) + '/')
    for x in files: want.add(x if rel == '.' else rel + '/' + x)
assert names == want, (names ^ want)
for i in z.infolist():
    p = os.path.join(root, i.filename)
    if i.is_dir():
        assert i.external_attr & 0x10, i.filename
        assert i.compress_type == 0 and i.CRC == 0 and i.file_size == 0, i.filename
        continue
    data = open(p, 'rb').read()
    assert i.file_size == len(data), i.filename
    assert i.CRC == zlib.crc32(data), i.filename
    assert z.read(i) == data, i.filename
    assert i.compress_type == (0 if not data else 8), i.filename
    assert i.external_attr & 0x20, i.filename   # archive bit
    t = time.localtime(os.stat(p).st_mtime)
    want_t = (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)
    assert i.date_time == want_t, (i.filename, i.date_time, want_t)
ro = z.getinfo('readonly.txt')
assert ro.external_attr & 0x01, hex(ro.external_attr)
assert z.getinfo('nested/random.bin').date_time == (2019, 3, 4, 5, 6, 8)
print("python: %d entries match the tree" % len(names))
PYEOF
zipinfo -v "$work/mixed.zip" > "$work/zipinfo.txt"
grep -q 'minimum software version required to extract:   2.0' "$work/zipinfo.txt" || fail "version 20"
! grep -q 'minimum software version required to extract:   4.5' "$work/zipinfo.txt" || fail "no Zip64 here"
[ "$(grep -c 'compression method:.*deflated' "$work/zipinfo.txt")" = 5 ] || fail "deflated entries"
[ "$(grep -c 'compression method:.*none (stored)' "$work/zipinfo.txt")" = 7 ] || fail "stored entries"

step "include and exclude masks"
zipbench "$(winpath "$work/masked.zip")" "$(winpath "$src")" --include '*.txt;*.bin' --exclude '*.bin;nested\deeper\*' >/dev/null
got=$(unzip -Z1 "$work/masked.zip" | sort | tr '\n' ' ')
[ "$got" = "empty.txt readonly.txt with space/a file.txt " ] || fail "masks gave: $got"

step "encryption"
zipbench "$(winpath "$work/enc.zip")" "$(winpath "$src")" --password 'pa ss' >/dev/null
unzip -tq -P 'pa ss' "$work/enc.zip" >/dev/null || fail "unzip with the password"
if unzip -tq -P wrong "$work/enc.zip" >/dev/null 2>&1; then fail "unzip took a wrong password"; fi
7z t -p'pa ss' "$work/enc.zip" >/dev/null || fail "7z with the password"
if 7z t -pwrong "$work/enc.zip" >/dev/null 2>&1; then fail "7z took a wrong password"; fi
$PY - "$work/enc.zip" <<'PYEOF' || fail "python with the password"
import sys, zipfile, zlib
z = zipfile.ZipFile(sys.argv[1])
files = [i for i in z.infolist() if not i.is_dir()]
assert all(i.flag_bits & 1 for i in files)
z.setpassword(b'pa ss')
right = {i.filename: z.read(i) for i in files}
# The reader checks one byte of the encryption header, so a wrong password
# gets past it once in 256 entries; such an entry then fails to inflate or
# fails its CRC, which refuses it just as well. An empty entry has nothing
# to check beyond that byte, so only entries with data must never read back.
z.setpassword(b'wrong')
for i in files:
    try:
        data = z.read(i)
    except (RuntimeError, zlib.error, zipfile.BadZipFile):
        continue
    if right[i.filename] and data == right[i.filename]:
        sys.exit("wrong password read back " + i.filename)
PYEOF

step "volumes"
vols=$work/vols; mkdir -p "$vols"
head -c 5000000 /dev/urandom > "$work/mixed/nested/random2.bin"
zipbench "$(winpath "$vols/set.zip")" "$(winpath "$src")" --volume-size 65536 --level 6 | tail -1
n=$(ls "$vols" | grep -c '^set\.Z[0-9]*$')
[ "$n" -ge 100 ] || fail "expected at least 100 volumes, got $n"
[ -f "$vols/set.Z99" ] && [ -f "$vols/set.Z100" ] || fail "volume names past 99"
for f in "$vols"/set.*; do
  [ "$(stat -c %s "$f")" -le 65536 ] || fail "$f is larger than the volume size"
done
links=$work/links; mkdir -p "$links"
for f in "$vols"/set.Z*; do b=$(basename "$f"); ln -s "$f" "$links/set.z${b#set.Z}"; done
ln -s "$vols/set.zip" "$links/set.zip"
7z t "$links/set.zip" >"$work/7zv.log" 2>&1 || { tail -20 "$work/7zv.log"; fail "7z t on the volume set"; }
grep -q "Everything is Ok" "$work/7zv.log" || fail "7z on the set"
single=$work/single; mkdir -p "$single"
zipbench "$(winpath "$single/one.zip")" "$(winpath "$src/with space")" --volume-size 65536 >/dev/null
[ "$(ls "$single")" = "one.zip" ] || fail "one volume must give just the archive: $(ls "$single")"
peers_ok "$single/one.zip"

step "Zip64: files of 0xFFFFFFFF and 0x100000000 bytes"
big=$work/big; mkdir -p "$big"
truncate -s 4294967295 "$big/ffffffff.bin"
truncate -s 4294967296 "$big/100000000.bin"
echo small > "$big/small.txt"
zipbench "$(winpath "$work/big.zip")" "$(winpath "$big")" --level 1 | tail -1
unzip -tq "$work/big.zip" || fail "unzip -t on the big archive"
7z t "$work/big.zip" >/dev/null || fail "7z t on the big archive"
7z l -slt "$work/big.zip" | has '^Size = 4294967295$' || fail "7z size of 0xFFFFFFFF"
7z l -slt "$work/big.zip" | has '^Size = 4294967296$' || fail "7z size of 0x100000000"
$PY - "$work/big.zip" <<'PYEOF' || fail "python on the big archive"
import sys, zipfile, zlib
z = zipfile.ZipFile(sys.argv[1])
sizes = {i.filename: i.file_size for i in z.infolist()}
assert sizes == {'ffffffff.bin': 0xFFFFFFFF, '100000000.bin': 0x100000000, 'small.txt': 6}, sizes
# Whenever the local Zip64 extra is there, both local size fields are all ones.
import struct
raw = open(sys.argv[1], 'rb').read()
for i in z.infolist():
    sig, = struct.unpack_from('<I', raw, i.header_offset)
    csize, usize, nlen, xlen = struct.unpack_from('<IIHH', raw, i.header_offset + 18)
    assert sig == 0x04034B50
    if i.file_size >= 0xFFFFFFFF:
        assert (csize, usize, xlen) == (0xFFFFFFFF, 0xFFFFFFFF, 20), (i.filename, csize, usize, xlen)
    elif xlen:
        assert (csize, usize) == (0xFFFFFFFF, 0xFFFFFFFF), i.filename
# Stream the larger file through to check its CRC.
with z.open('100000000.bin') as f:
    n = 0
    while True:
        chunk = f.read(1 << 24)
        if not chunk: break
        n += len(chunk)
assert n == 0x100000000
PYEOF
zipinfo -v "$work/big.zip" | has 'minimum software version required to extract:   4.5' || fail "version 45 for Zip64"
echo "zip peers: all passed"
