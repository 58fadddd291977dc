#!/usr/bin/env bash
# The fixed cost of an unattended run: `korvane.exe session.xml` timed from
# start to exit on a session with one 3-byte file, and on a folder of 2,242
# files (~47 MB of text and binary data) beside zipbench.exe (the archiver
# alone, level 9 as the program runs it) on the same folder. Prints the best
# and the median of a few runs, in seconds. Run from the repository root
# after scripts/build, on a display: xvfb-run -a bash bench/unattended.sh [runs]
# Figures depend on the machine and its load.
set -euo pipefail
e2e_name=bench_unattended
. "$(dirname "$0")/../tests/e2e/lib/common.sh"
runs=${1:-3}
name="krv-bench-unatt-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/prog" "$root/dest" "$root/one"
cp build/dist/korvane.exe "$root/prog/"
printf 'abc' > "$root/one/three.txt"

/usr/bin/python3 - "$root/many" <<'PYEOF'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(8)
words = open("/usr/include/stdio.h").read().split()
n = 0
for d in range(40):
    folder = os.path.join(root, "d%02d" % d, "sub%d" % (d % 3))
    os.makedirs(folder)
    for i in range(56):
        path = os.path.join(folder, "f%03d.%s" % (i, "bin" if i % 5 == 0 else "txt"))
        with open(path, "wb") as f:
            if i % 5 == 0:
                f.write(rnd.randbytes(rnd.randint(1000, 60000)))
            else:
                f.write(" ".join(rnd.choice(words) for _ in range(rnd.randint(50, 3500))).encode())
        n += 1
with open(os.path.join(root, "big.bin"), "wb") as f:
    f.write(rnd.randbytes(8_000_000))
with open(os.path.join(root, "big.log"), "wb") as f:
    f.write(" ".join(rnd.choice(words) for _ in range(500_000)).encode())
print("files:", n + 2)
PYEOF
echo "bytes: $(du -sb "$root/many" | cut -f1)"

session() {   # file name folder
  S_NAME=$2 S_ARCHIVE=$2.zip S_DEST="$win\\dest" S_OVERWRITE=True S_DIRS=$(dirs_xml "$3") session_file "$1"
}
session "$root/one.xml" One "$win\\one"
session "$root/many.xml" Many "$win\\many"

# Best and median of $runs timings of a command, start to exit.
timed() {   # label command...
  local label=$1; shift
  local times=()
  for _ in $(seq "$runs"); do
    local s e
    s=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "$label: exit code $?"; return 1; }
    e=$(date +%s.%N)
    times+=("$(echo "$e - $s" | bc)")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v l="$label" '{t[NR]=$1} END {printf "%s: best %.2f s, median %.2f s (%d runs)\n", l, t[1], t[int((NR+1)/2)], NR}'
}

timed "one 3-byte file, korvane.exe start to exit" wine "$win\\prog\\korvane.exe" "$win\\one.xml"
timed "2,242 files, korvane.exe start to exit" wine "$win\\prog\\korvane.exe" "$win\\many.xml"
timed "2,242 files, zipbench.exe start to exit" wine "$here/build/dist/zipbench.exe" "$win\\dest\\bench.zip" "$win\\many"
tail -n 3 "$root/prog/temp/Many.log"
unzip -tq "$root/dest/Many.zip" >/dev/null && echo "unzip -t Many.zip: ok"
