#!/usr/bin/env bash
# A hard-disk backup of a generated ~300 MB mixed set (source headers and
# libraries, generated text, random and zero-filled files, many small files)
# run by hdbench.exe through the main window, beside `zip -r -6` on the same
# data. Prints seconds, MB/s and archive sizes. Run from the repository root
# after scripts/build, on a display (xvfb-run -a bash bench/hdbench.sh).
# Figures depend on the machine and its load.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env"
work=$(mktemp -d /dev/shm/hdbench.XXXXXX 2>/dev/null || mktemp -d /tmp/hdbench.XXXXXX)
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

mkdir -p "$work/data" "$work/out"
cp -r /usr/include "$work/data/include"
cp -r /usr/i686-w64-mingw32/lib "$work/data/lib"
/usr/bin/python3 - "$work/data" <<'PYEOF'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(8)
words = open('/usr/include/stdio.h').read().split()
os.makedirs(os.path.join(root, 'gen'))
with open(os.path.join(root, 'gen', 'text.log'), 'w') as f:
    while f.tell() < 40_000_000:
        f.write(' '.join(rnd.choice(words) for _ in range(12)) + '\n')
with open(os.path.join(root, 'gen', 'random.bin'), 'wb') as f:
    f.write(os.urandom(30_000_000))
with open(os.path.join(root, 'gen', 'zeros.img'), 'wb') as f:
    f.write(bytes(20_000_000))
for d in range(20):
    p = os.path.join(root, 'small', 'd%02d' % d); os.makedirs(p)
    for i in range(250):
        with open(os.path.join(p, 'f%03d.txt' % i), 'w') as f:
            f.write(' '.join(rnd.choice(words) for _ in range(rnd.randint(10, 600))))
PYEOF
bytes=$(du -sb "$work/data" | cut -f1)
files=$(find "$work/data" -type f | wc -l)
echo "data: $bytes bytes in $files files"

start=$(date +%s.%N)
(cd "$work/data" && zip -q -r -6 "$work/out/zip6.zip" .)
end=$(date +%s.%N)
zsecs=$(echo "$end - $start" | bc)
echo "zip -r -6:  ${zsecs}s  $(echo "scale=1; $bytes / 1048576 / $zsecs" | bc) MB/s  archive $(stat -c %s "$work/out/zip6.zip") bytes"

start=$(date +%s.%N)
(cd "$work/data" && zip -q -r -9 "$work/out/zip9.zip" .)
end=$(date +%s.%N)
z9=$(echo "$end - $start" | bc)
echo "zip -r -9:  ${z9}s  $(echo "scale=1; $bytes / 1048576 / $z9" | bc) MB/s  archive $(stat -c %s "$work/out/zip9.zip") bytes"

out=$(wine "$here/build/dist/hdbench.exe" "$(winpath "$work/data")" "$(winpath "$work/out")" | tr -d '\r')
secs=$(echo "$out" | awk '/^seconds/ {print $2}')
size=$(stat -c %s "$work/out/hdbench.zip")
echo "korvane run: ${secs}s  $(echo "scale=1; $bytes / 1048576 / $secs" | bc) MB/s  archive $size bytes (level 9, as the program runs)"
unzip -tq "$work/out/hdbench.zip" >/dev/null && echo "unzip -t: ok"
