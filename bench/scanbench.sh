#!/usr/bin/env bash
# The folder scan of a run over a ticked tree of 100,000 files in 10,000
# folders and over one of 50,000 files in 5,000 folders, each beside a bare
# FindFirstFileW walk of the same folders (scanbench.exe). Run from the
# repository root after scripts/build, on a display
# (xvfb-run -a bash bench/scanbench.sh). Figures depend on the machine and its load.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env"
# As for korvane.exe: no window manager runs, so hiding the progress window
# must not wait for one (2 s per scan otherwise).
wine reg add 'HKCU\Software\Wine\AppDefaults\scanbench.exe\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
base="$WINEPREFIX/drive_c/krv-scanbench-$$"
trap 'rm -rf "$base"' EXIT
make_tree() {   # folder, number of top folders
  /usr/bin/python3 - "$1" "$2" <<'PYEOF'
import os, sys
root, tops = sys.argv[1], int(sys.argv[2])
# tops x 10 x 10 folders would be too many: tops top folders, each with 99
# subfolders; every folder (the tops too) holds 10 small files.
for t in range(tops):
    top = os.path.join(root, "t%03d" % t)
    for s in range(100):
        d = top if s == 0 else os.path.join(top, "s%02d" % s)
        os.makedirs(d, exist_ok=True)
        for f in range(10):
            with open(os.path.join(d, "f%d.txt" % f), "w") as fh:
                fh.write("x" * (f * 37 + s))
PYEOF
}
make_tree "$base/k100" 100
make_tree "$base/k50" 50
for tree in k50 k100; do
  echo "== $tree"
  wine "$here/build/dist/scanbench.exe" "C:\\krv-scanbench-$$\\$tree" 3 2>/dev/null | tr -d '\r'
done
