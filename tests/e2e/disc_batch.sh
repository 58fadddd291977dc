#!/usr/bin/env bash
# An unattended disc backup: `korvane.exe <session file>` under Wine with the
# console stand-ins in the program's tools folder. With small volumes
# (KORVANE_TEST_VOLUME_SIZE) the run must make a multi-volume set, hand the
# archive and every volume to the image maker, burn the image, end with exit
# code 0 and "Backup done", and leave no archive, volume or image in the temp
# folder. The burnt image is read back with isoinfo and xorriso; the set taken
# from it must hold the selected files (7z t, contents compared).
set -uo pipefail
e2e_name=disc_batch
. "$(dirname "$0")/lib/common.sh"
tools=build/tests/tools
for f in build/dist/korvane.exe $tools/mkisofs.exe $tools/cdrecord.exe $tools/cygwin1.dll; do
  [ -f "$f" ] || fail "$f missing (run scripts/build)"
done
command -v isoinfo >/dev/null && command -v xorriso >/dev/null || fail "isoinfo/xorriso missing (run scripts/setup)"

name="krv-e2e-disc-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
trap 'rm -rf "$root"' EXIT
rm -rf "$root"
mkdir -p "$root/tools"
cp build/dist/korvane.exe "$root/"
[ -d build/dist/lang ] && cp -r build/dist/lang "$root/"
cp $tools/mkisofs.exe $tools/cdrecord.exe $tools/cygwin1.dll "$root/tools/"

# One DVD writer on 1,0,0 (not the default 0,0,0, so the burn line shows that
# the discovered id reached the recorder); the rest plays the defaults.
cat > "$root/tools/standin.script" <<'EOF'
[cdrecord --scanbus]
out scsibus1:
out \t1,0,0\t100) 'STANDIN ' 'DVD-RW BATCH    ' '2.00' Removable CD-ROM
out \t1,1,0\t101) *
[cdrecord -checkdrive]
out Device type    : Removable CD-ROM
[mkisofs]
iso
[cdrecord blank=]
out Last chance to quit... starting real write in 2 seconds.
out Blanking time:    1.000s
[cdrecord -dao]
out Last chance to quit... starting real write in 2 seconds.
burn
out Track 01:    1 of    1 MB written.
out Fixating...
EOF

# Incompressible data well over four 64 KiB volumes, plus small text files.
$PY - "$root/src" <<'PYEOF'
import os, random, sys
rnd = random.Random(10)
files = {"data/noise one.bin": bytes(rnd.getrandbits(8) for _ in range(200000)),
         "data/sub/noise two.bin": bytes(rnd.getrandbits(8) for _ in range(120000)),
         "data/notes.txt": b"".join(b"note %d\r\n" % i for i in range(2000)),
         "data/empty.txt": b""}
for rel, data in files.items():
    path = os.path.join(sys.argv[1], *rel.split("/"))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, "wb").write(data)
PYEOF

S_NAME="Disc e2e" S_ARCHIVE="Disc Set.zip" S_TYPE=0 S_DEVICE=0 S_DIRS=$(dirs_xml "$win\\src\\data") \
  session_file "$root/disc.xml"

KORVANE_TEST_VOLUME_SIZE=65536 KRV_STANDIN_DISC="$win\\disc.iso" \
  timeout 300 wine "$win\\korvane.exe" "$win\\disc.xml" >"$root/wine.log" 2>&1
rc=$?
[ $rc -eq 124 ] && fail "the disc run did not end within 300 s"
[ $rc -eq 0 ] || { tail -n 20 "$root/wine.log"; fail "the disc run exited with $rc"; }
ok "batch run ended by itself with 0"

report="$root/temp/Disc e2e.log"
[ -f "$report" ] || fail "no report file"
$PY - "$report" <<'PYEOF' || { cat "$report"; fail "report lines"; }
import sys
lines = [l.rstrip("\r\n") for l in open(sys.argv[1], encoding="latin-1")]
if not lines or lines[-1] != "Backup done": sys.exit("last line %r" % (lines[-1:],))
if any("Operation aborted" in l or l.startswith("Error") for l in lines): sys.exit("aborted or error")
if not lines[0].startswith("Backup started at "): sys.exit("first line %r" % lines[0])
if lines[-4] != "Archive: Disc Set.zip (on the disc)" or lines[-2] != "Left out: 0":
    sys.exit("summary %r" % lines[-4:])
PYEOF
ok "report ends with Backup done"

# The stand-ins' log: scan, drive check, image over the archive and all its
# volumes in order, blank and burn on the discovered writer.
log="$root/tools/standin.log"
[ -f "$log" ] || fail "the stand-ins were never started"
iso_line=$(grep 'mkisofs.exe"' "$log")
[ "$(echo "$iso_line" | wc -l)" -eq 1 ] || fail "image maker started $(echo "$iso_line" | wc -l) times: $(cat "$log")"
volumes=$(echo "$iso_line" | grep -o '/Disc Set\.z[0-9][0-9]"' | wc -l)
[ "$volumes" -ge 4 ] || fail "only $volumes volumes handed to the image maker: $iso_line"
want=' -V Backup -v -o "[^"]*/temp/KV_ISO.iso" -R -J -iso-level 4 "[^"]*/temp/Disc Set.zip"'
for n in $(seq 1 "$volumes"); do want+=" \"[^\"]*/temp/Disc Set.z$(printf %02d "$n")\""; done
echo "$iso_line" | grep -q "mkisofs.exe\"$want\$" || fail "image command line: $iso_line"
grep -q 'cdrecord.exe" -v -gracetime=2 -dev=1,0,0 blank=fast$' "$log" || fail "no blank on 1,0,0: $(cat "$log")"
grep -q 'cdrecord.exe" .*-dev=1,0,0 .*-dao speed=1 "[^"]*/temp/KV_ISO.iso"$' "$log" || fail "no burn on 1,0,0: $(cat "$log")"
ok "stand-ins: image over the archive and $volumes volumes, blank and burn on 1,0,0"

# The "disc": isoinfo lists the archive and every volume; xorriso gives them back.
disc="$root/disc.iso"
[ -f "$disc" ] || fail "no image reached the disc"
listing=$(isoinfo -l -J -i "$disc") || fail "isoinfo cannot read the image"
files=("Disc Set.zip")
for n in $(seq 1 "$volumes"); do files+=("Disc Set.z$(printf %02d "$n")"); done
for f in "${files[@]}"; do
  echo "$listing" | grep -q " $f *\$" || fail "isoinfo does not list $f: $listing"
done
count=$(echo "$listing" | grep -c ' Disc Set\.z')
[ "$count" -eq $((volumes + 1)) ] || fail "the image lists $count set files, expected $((volumes + 1))"
mkdir -p "$root/out"
xorriso -osirrox on -indev "$disc" -extract / "$root/out" >"$root/xorriso.log" 2>&1 || fail "xorriso cannot read the image"
[ "$(ls "$root/out" | wc -l)" -eq $((volumes + 1)) ] || fail "image holds: $(ls "$root/out")"
ok "image holds the archive and all $volumes volumes (isoinfo, xorriso)"

# The set itself: 7z reads the split archive from lower-case names and every
# file comes back as it was.
mkdir -p "$root/set"
for f in "${files[@]}"; do ln -s "$root/out/$f" "$root/set/$(echo "$f" | tr 'A-Z ' 'a-z_')"; done
7z t "$root/set/disc_set.zip" >"$root/7z.log" 2>&1 || { cat "$root/7z.log"; fail "7z t on the set"; }
7z x -y -o"$root/x" "$root/set/disc_set.zip" >>"$root/7z.log" 2>&1 || fail "7z x on the set"
for rel in "data/noise one.bin" "data/sub/noise two.bin" "data/notes.txt" "data/empty.txt"; do
  got=$(find "$root/x" -path "*/$name/src/$rel" -type f | head -n 1)
  [ -n "$got" ] || fail "$rel is not in the set"
  cmp -s "$got" "$root/src/$rel" || fail "$rel differs"
done
ok "the set passes 7z t and gives back every file"

# Nothing of the run is left in the temp folder (the report file stays).
left=$(cd "$root/temp" && ls -A | grep -v '\.log$')
[ -z "$left" ] || fail "left in the temp folder: $left"
ok "temp folder clean"

echo "disc_batch: passed"
