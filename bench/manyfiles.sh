#!/usr/bin/env bash
# Memory and time of one unattended run over many small files: for each count
# (default 10,000, 100,000 and 1,000,000) it makes that many files of 1 to 200
# bytes (1,000 per folder) on a tmpfs, runs `korvane.exe session.xml` on them
# (hard disk, Overwrite) with its trace on, checks the archive with unzip -t
# and 7z t, and prints files, seconds, microseconds per file and the peak
# working set the process measured at its end (KORVANE_TRACE, see
# app/RunTrace.h). Run from the repository root after scripts/build, as root
# (for the tmpfs), on a display:
#   xvfb-run -a -s "-screen 0 1280x1024x24" bash bench/manyfiles.sh [count ...]
# Figures depend on the machine and its load.
set -euo pipefail
e2e_name=bench_manyfiles
. "$(dirname "$0")/../tests/e2e/lib/common.sh"
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000 1000000)
name="krv-bench-many-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
cleanup() { mountpoint -q "$root/src" && umount "$root/src"; rm -rf "$root"; }
trap cleanup EXIT
mkdir -p "$root/prog" "$root/dest" "$root/src"
cp build/dist/korvane.exe "$root/prog/"
mount -t tmpfs -o size=8g,nr_inodes=4m tmpfs "$root/src"
wine reg add 'HKCU\Software\Wine\AppDefaults\korvane.exe\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1

printf '%10s %10s %12s %18s\n' files seconds "us per file" "peak working set"
made=0
for n in "${counts[@]}"; do
  # Adds files up to n (the folders of a smaller count stay).
  $PY - "$root/src" "$made" "$n" <<'PYEOF'
import os, sys
root, start, end = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(start, end):
    folder = os.path.join(root, "d%04d" % (i // 1000))
    if i % 1000 == 0: os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%03d.txt" % (i % 1000)), "w") as f:
        f.write(("file %d " % i) * (i % 25 + 1))
PYEOF
  made=$n
  S_NAME=Many S_ARCHIVE=Many.zip S_DEST="$win\\dest" S_OVERWRITE=True S_DIRS=$(dirs_xml "$win\\src") \
    session_file "$root/many.xml"
  rm -f "$root/trace.txt" "$root/dest/"*
  start=$(date +%s.%N)
  KORVANE_TRACE="$win\\trace.txt" wine "$win\\prog\\korvane.exe" "$win\\many.xml" >/dev/null 2>&1 \
    || { echo "$n files: exit code $?"; tail -n 4 "$root/prog/temp/Many.log"; exit 1; }
  end=$(date +%s.%N)
  grep -qF "Files archived: $n " "$root/prog/temp/Many.log" || { tail -n 4 "$root/prog/temp/Many.log"; exit 1; }
  unzip -tq "$root/dest/Many.zip" >/dev/null || { echo "unzip -t failed at $n files"; exit 1; }
  7z t "$root/dest/Many.zip" >/dev/null || { echo "7z t failed at $n files"; exit 1; }
  peak=$(tr -d '\r' < "$root/trace.txt" | sed -n 's/^[0-9]* peak working set //p' | tail -n 1)
  awk -v n="$n" -v s="$start" -v e="$end" -v p="$peak" \
    'BEGIN { printf "%10d %10.1f %12.0f %15.0f MB\n", n, e - s, (e - s) * 1e6 / n, p / 1048576 }'
done
echo "unzip -t and 7z t: every archive ok"
