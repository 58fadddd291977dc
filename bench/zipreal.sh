#!/usr/bin/env bash
# zipbench at level 9 beside zip -9 on ~150 MB of this machine's own
# documentation and libraries (bench/realset.sh), both pinned to two
# processors, timed side by side by farm-bench (pairs A B A B ...; the
# median ratio is the figure). Prints the archive sizes too. Run from the
# repository root after scripts/build. Figures depend on the machine and its load.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
. "$here/scripts/wine-env"
runs=${1:-5}
work=$(mktemp -d /dev/shm/zipreal.XXXXXX 2>/dev/null || mktemp -d /tmp/zipreal.XXXXXX)
trap 'rm -rf "$work"' EXIT
bash "$here/bench/realset.sh" "$work/set"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
cp "$here/build/dist/zipbench.exe" "$work/"
farm-bench -n "$runs" --pin 0,1 --timeout 1200 \
  --vs "sh -c 'cd $work/set && rm -f $work/zip9.zip && exec zip -q -r -9 $work/zip9.zip .'" \
  -- sh -c "rm -f $work/zb.zip; exec wine $work/zipbench.exe '$(winpath "$work/zb.zip")' '$(winpath "$work/set")' --level 9"
echo "sizes: zipbench $(stat -c %s "$work/zb.zip"), zip -9 $(stat -c %s "$work/zip9.zip")"
