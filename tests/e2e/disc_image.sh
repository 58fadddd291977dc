#!/usr/bin/env bash
# The image and burn steps over an archive with three volumes, run through the
# console stand-ins; the image that reached the "disc" must hold the archive
# and every volume byte for byte (read with isoinfo and xorriso), and the temp
# folder must be empty afterwards.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
. scripts/wine-env
exe=build/tests/tools/disc_image_check.exe
[ -f "$exe" ] || { echo "disc_image: $exe missing (run scripts/build)"; exit 1; }
command -v isoinfo >/dev/null && command -v xorriso >/dev/null || { echo "disc_image: isoinfo/xorriso missing (run scripts/setup)"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
winwork="Z:$(echo "$work" | tr / '\\')"
if ! timeout 300 wine "$exe" "$winwork" >"$work/run.log" 2>&1; then
  cat "$work/run.log"; echo "disc_image: the steps failed"; exit 1
fi
status=0
[ -f "$work/disc.iso" ] || { echo "disc_image: no image reached the disc"; exit 1; }
listing=$(isoinfo -l -J -i "$work/disc.iso")
for f in "Disc Backup.zip" "Disc Backup.z01" "Disc Backup.z02" "Disc Backup.z03"; do
  echo "$listing" | grep -q " $f *\$" || { echo "disc_image: isoinfo does not list $f"; status=1; }
done
mkdir -p "$work/out"
xorriso -osirrox on -indev "$work/disc.iso" -extract / "$work/out" >/dev/null 2>&1 || { echo "disc_image: xorriso cannot read the image"; status=1; }
for f in "$work/orig/"*; do
  cmp -s "$f" "$work/out/$(basename "$f")" || { echo "disc_image: $(basename "$f") differs in the image"; status=1; }
done
extra=$(ls "$work/out" | wc -l)
[ "$extra" -eq 4 ] || { echo "disc_image: image holds $extra files, expected 4"; status=1; }
# The stand-ins got the exact command lines, the volumes in order.
grep -q 'mkisofs.exe" -V Backup -v -o ".*/KV_ISO.iso" -R -J -iso-level 4 ".*/Disc Backup.zip" ".*/Disc Backup.z01" ".*/Disc Backup.z02" ".*/Disc Backup.z03"$' "$work/standin.log" \
  || { echo "disc_image: image command line not as expected"; cat "$work/standin.log"; status=1; }
[ $status -eq 0 ] && echo "disc_image: archive and 3 volumes in the image, temp folder clean"
exit $status
