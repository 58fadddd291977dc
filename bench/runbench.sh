#!/usr/bin/env bash
# A whole unattended run against the archiver alone, on a real folder: about
# 150 MB of this machine's own documentation and shared libraries
# (bench/realset.sh). Runs `korvane.exe session.xml` (hard disk, Overwrite)
# and `zipbench.exe` (the same level the run uses) on that folder in turns,
# prints each pair, the median ratio, and a table of the last run's phases
# from its trace (KORVANE_TRACE, see app/RunTrace.h). Run from the repository
# root after scripts/build, on a display:
#   xvfb-run -a -s "-screen 0 1280x1024x24" bash bench/runbench.sh [pairs]
# With "folders" as its argument it times instead sessions that name 1,000,
# 2,500 and 5,000 folders (one small file each), to show that loading a
# session and checking its folders grow linearly:
#   xvfb-run -a -s "-screen 0 1280x1024x24" bash bench/runbench.sh folders
# Figures depend on the machine and its load.
set -euo pipefail
e2e_name=bench_run
. "$(dirname "$0")/../tests/e2e/lib/common.sh"
pairs=${1:-5}
name="krv-runbench-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/prog" "$root/dest" "$root/data"
cp build/dist/korvane.exe "$root/prog/"
# As for the e2e runs: no window manager runs, so hiding a window must not wait for one.
wine reg add 'HKCU\Software\Wine\AppDefaults\korvane.exe\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1

# The phases of a run from its trace (KORVANE_TRACE: milliseconds since the
# process started, then the phase), each with the time it took.
trace="$root/trace.txt"
phases() {
  tr -d '\r' < "$trace" | awk '{ if (NR > 1) printf "%8.2f s  %s\n", ($1 - t) / 1000, p; t = $1; $1 = ""; p = substr($0, 2) }
                              END { printf "%8.2f s  total, start to the message loop'"'"'s end\n", t / 1000 }'
}
if [ "${1:-}" = folders ]; then
  for n in ${FOLDER_COUNTS:-1000 2500 5000}; do
    rm -rf "$root/many" "$root/dest"/*
    $PY - "$root/many" "$n" <<'PYEOF'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "g%02d" % (i // 500), "d%05d" % i)
    os.makedirs(d)
    with open(os.path.join(d, "f.txt"), "w") as f: f.write("x" * (i % 97 + 1))
PYEOF
    S_NAME=Folders S_ARCHIVE=Folders.zip S_DEST="$win\\dest" S_OVERWRITE=True S_DIRS=@DIRS@ session_file "$root/folders.xml"
    $PY - "$root/folders.xml" "$win\\many" "$n" <<'PYEOF'
import sys
path, top, n = sys.argv[1], sys.argv[2], int(sys.argv[3])
dirs = "".join('<dir value="%s\\g%02d\\d%05d"/>' % (top, i // 500, i) for i in range(n))
text = open(path, encoding="latin-1").read().replace("@DIRS@", dirs)
open(path, "w", encoding="latin-1").write(text)
PYEOF
    rm -f "$trace"
    s=$(date +%s.%N)
    KORVANE_ACC="C:\\acc.txt" KORVANE_TRACE="$win\\trace.txt" wine "$win\\prog\\korvane.exe" "$win\\folders.xml" >/dev/null 2>&1 || echo "korvane.exe: exit code $?"
    e=$(date +%s.%N)
    printf '%d folders: %.2f s start to exit, %s entries in the archive\n' "$n" "$(echo "$e - $s" | bc)" \
      "$(unzip -Z1 "$root/dest/Folders.zip" | grep -c .)"
    phases
  done
  exit 0
fi

bash "$here/bench/realset.sh" "$root/data"

S_NAME=Bench S_ARCHIVE=Bench.zip S_DEST="$win\\dest" S_OVERWRITE=True S_DIRS=$(dirs_xml "$win\\data") \
  session_file "$root/bench.xml"

seconds() { date +%s.%N; }
ratios=()
echo "pair  korvane.exe  zipbench.exe  ratio"
for i in $(seq "$pairs"); do
  rm -f "$trace"
  s=$(seconds); KORVANE_TRACE="$win\\trace.txt" wine "$win\\prog\\korvane.exe" "$win\\bench.xml" >/dev/null 2>&1 || echo "korvane.exe: exit code $?"
  e=$(seconds); k=$(echo "$e - $s" | bc)
  rm -f "$root/dest/zb.zip"
  s=$(seconds); wine "$here/build/dist/zipbench.exe" "$win\\dest\\zb.zip" "$win\\data" >/dev/null 2>&1
  e=$(seconds); z=$(echo "$e - $s" | bc)
  r=$(echo "scale=3; $k / $z" | bc)
  ratios+=("$r")
  printf '%4d  %10.2f s  %10.2f s  %5.2f\n' "$i" "$k" "$z" "$r"
done
printf '%s\n' "${ratios[@]}" | sort -n | awk '{r[NR]=$1} END {printf "median ratio: %.2f (%d pairs)\n", r[int((NR+1)/2)], NR}'
ls -l "$root/dest"/*.zip | awk '{print $5, $9}'
unzip -tq "$root/dest/Bench.zip" >/dev/null && echo "unzip -t Bench.zip: ok"

echo "phases of the last run (from its trace):"
phases
