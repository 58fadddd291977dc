# Sourced by the end-to-end scripts after setting `e2e_name`: runs from the
# repository root with the Wine prefix ready, and gives them fail (which also
# ends the program started as $pid, if any) and ok.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
cd "$here"
. scripts/wine-env >/dev/null 2>&1
PY=/usr/bin/python3
fail() { echo "$e2e_name: FAILED: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; exit 1; }
ok() { echo "$1: ok"; }
