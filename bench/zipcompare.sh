#!/usr/bin/env bash
# Compares zipbench with zip -9 and 7z (deflate, one thread) on a ~200 MB
# mixed set and a 20,000-small-file set, and shows zipbench on 25,000 and
# 100,000 small files. Prints seconds and sizes; run from the repository root
# after scripts/build. Figures depend on the machine and its load.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env"
work=$(mktemp -d /dev/shm/zipcompare.XXXXXX 2>/dev/null || mktemp -d /tmp/zipcompare.XXXXXX)
trap 'rm -rf "$work"' EXIT
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
secs() { /usr/bin/time -f %e "$@" 2>&1 >/dev/null | tail -1; }

mkdir -p "$work/mixed" "$work/small"
cp -r /usr/include "$work/mixed/include"
cp -r /usr/i686-w64-mingw32/lib "$work/mixed/lib"
head -c 10000000 /dev/urandom > "$work/mixed/random.bin"
/usr/bin/python3 - "$work" <<'PYEOF'
import os, sys
from random import Random
random = Random(7)
words = open('/usr/include/stdio.h').read().split()
def make(root, folders, per):
    for d in range(folders):
        p = os.path.join(root, 'd%03d' % d); os.makedirs(p)
        for f in range(per):
            text = ' '.join(random.choice(words) for _ in range(random.randint(50, 4000) // 6))
            open(os.path.join(p, 'f%04d.txt' % f), 'w').write(text)
make(os.path.join(sys.argv[1], 'small'), 40, 500)
make(os.path.join(sys.argv[1], 'k25'), 25, 1000)
make(os.path.join(sys.argv[1], 'k100'), 100, 1000)
PYEOF

for set in mixed small; do
  src=$work/$set
  echo "== $set: $(du -sb "$src" | cut -f1) bytes in $(find "$src" -type f | wc -l) files"
  t=$(cd "$src" && secs zip -q -r -9 "$work/zip9.zip" .)
  echo "zip -9:      ${t}s size $(stat -c %s "$work/zip9.zip")"
  t=$(cd "$src" && secs 7z a -tzip -mx=9 -mmt=1 "$work/7z.zip" .)
  echo "7z -mx=9:    ${t}s size $(stat -c %s "$work/7z.zip")"
  t=$(secs wine "$here/build/dist/zipbench.exe" "$(winpath "$work/zb.zip")" "$(winpath "$src")" --level 9)
  echo "zipbench -9: ${t}s size $(stat -c %s "$work/zb.zip")"
  rm -f "$work"/*.zip
done
for set in k25 k100; do
  echo "== $set"
  wine "$here/build/dist/zipbench.exe" "$(winpath "$work/$set.zip")" "$(winpath "$work/$set")" --level 9 | tr -d '\r'
done
