#!/usr/bin/env bash
# What files left out cost a run: `korvane.exe session.xml` on COUNT files
# another program holds open without sharing (each left out and named in red)
# and 10 readable ones, beside the same run with those COUNT files readable
# (another folder of files of the same names and sizes). The two runs go in
# turns; each pair, the median of both and the median ratio (left out /
# readable) are printed, then the report's count of files left out. Run from
# the repository root after scripts/build, on a display:
#   xvfb-run -a -s "-screen 0 1280x1024x24" bash bench/leftout.sh [COUNT] [pairs]
# KORVANE_EXE names another build to time (as in the e2e scripts). With
# KEEP=1 the folders stay and the two commands are printed, for timing them
# with another tool. Figures depend on the machine and its load.
set -euo pipefail
e2e_name=bench_leftout
. "$(dirname "$0")/../tests/e2e/lib/common.sh"
count=${1:-4000}
pairs=${2:-3}
name="krv-leftout-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
cleanup() { [ -n "${held_marker:-}" ] && release_held; [ "${KEEP:-}" = 1 ] || rm -rf "$root"; }
trap cleanup EXIT
program_folder "$root/prog"
mkdir -p "$root/dest"
$PY - "$root" "$count" <<'PYEOF'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for folder, files in (("held", n), ("free", n), ("ok", 10)):
    os.makedirs(os.path.join(root, folder))
    for i in range(files):
        with open(os.path.join(root, folder, "file%05d.txt" % i), "w") as f:
            f.write("line %d\n" % i * (i % 20 + 1))
PYEOF
for case in held free; do
  S_NAME=$case S_ARCHIVE=$case.zip S_DEST="$win\\dest" S_OVERWRITE=True \
    S_DIRS=$(dirs_xml "$win\\$case" "$win\\ok") session_file "$root/$case.xml"
done
hold_open "$win\\held"

# Seconds from start to exit of one run (exit code 1: files left out).
timed() {   # session
  local s e
  s=$(date +%s.%N)
  wine "$win\\prog\\korvane.exe" "$win\\$1.xml" >/dev/null 2>&1 || true
  e=$(date +%s.%N)
  echo "$e - $s" | bc
}
if [ "${KEEP:-}" = 1 ]; then
  echo "left out: wine '$win\\prog\\korvane.exe' '$win\\held.xml'"
  echo "readable: wine '$win\\prog\\korvane.exe' '$win\\free.xml'"
  echo "the files stay held until this script ends: press Enter"; read -r _
  exit 0
fi
timed free >/dev/null   # Wine's first start of the program
rows=()
for _ in $(seq "$pairs"); do
  h=$(timed held); f=$(timed free)
  rows+=("$h $f")
  printf '%d left out + 10: %6.2f s   %d readable + 10: %6.2f s   ratio %.2f\n' "$count" "$h" "$count" "$f" \
    "$(echo "$h / $f" | bc -l)"
done
printf '%s\n' "${rows[@]}" | awk '{h[NR]=$1; f[NR]=$2; r[NR]=$1/$2}
  function median(a, n,   i, j, t) { for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
                                     return a[int((n + 1) / 2)] }
  END { n = NR; printf "median: left out %.2f s, readable %.2f s, ratio %.2f (%d pairs)\n", median(h, n), median(f, n), median(r, n), n }'
echo "report of the last run: $(grep -c 'skipped' "$root/prog/temp/held.log") files named as left out;" \
  "$(unzip -Z1 "$root/dest/held.zip" | grep -c .) and $(unzip -Z1 "$root/dest/free.zip" | grep -c .) entries archived"
