#!/usr/bin/env bash
# realset.sh FOLDER [MB]: fills FOLDER with about MB (default 150) megabytes
# of real files from this machine, no downloads: documentation and shared
# libraries taken in turn (sorted, so a machine gives the same set each
# time), files of at most 16 MB, 200 files to a folder. Prints the count and
# the bytes. Used by the archiver benchmarks.
set -euo pipefail
dest=$1
limit=$(( ${2:-150} * 1000000 ))
mkdir -p "$dest"
/usr/bin/python3 - "$dest" "$limit" <<'PYEOF'
import os, shutil, sys
dest, limit = sys.argv[1], int(sys.argv[2])
def files(root, keep):
    found = []
    for folder, dirs, names in os.walk(root):
        dirs.sort()
        for n in sorted(names):
            p = os.path.join(folder, n)
            if os.path.isfile(p) and not os.path.islink(p) and keep(n) and os.path.getsize(p) <= 16 << 20:
                found.append(p)
    return found
docs = files('/usr/share/doc', lambda n: True)
libs = files('/usr/lib/x86_64-linux-gnu', lambda n: '.so' in n)
# Eight documents to a library, so that the set holds many small files
# beside the big ones, as a real folder does.
order = []
for i in range(max(len(docs), len(libs))):
    order += docs[8 * i:8 * i + 8] + libs[i:i + 1]
total = count = 0
for path in order:
    if total >= limit:
        break
    folder = os.path.join(dest, 'd%03d' % (count // 200))
    os.makedirs(folder, exist_ok=True)
    shutil.copyfile(path, os.path.join(folder, '%04d_%s' % (count, os.path.basename(path))))
    total += os.path.getsize(path)
    count += 1
print('files: %d bytes: %d' % (count, total))
PYEOF
