# Helpers for the zip end-to-end tests (sourced, not run on its own).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
. "$here/scripts/wine-env"
DIST="$here/build/dist"
PY=/usr/bin/python3
# Memory-backed when there is one: the tests make and remove 100,000 files.
work=$(mktemp -d /dev/shm/korvane-zip.XXXXXX 2>/dev/null || mktemp -d /tmp/korvane-zip.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Linux path -> the same path through Wine's Z: drive.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "--- $*"; }

# grep -q on the end of a pipe: reads all input first, so the writer never
# dies of a closed pipe (which pipefail would count as a failure).
has() { local text; text=$(cat); grep -q "$@" <<<"$text"; }

zipbench() { wine "$DIST/zipbench.exe" "$@" | tr -d '\r'; }
zipdrive() { wine "$DIST/zipdrive.exe" "$@" | tr -d '\r'; }

# Every peer must accept the archive: unzip -t, 7z t and Python's zipfile.
peers_ok() {
  local zip=$1; shift
  unzip -tq "$@" "$zip" >"$work/unzip.log" 2>&1 || { cat "$work/unzip.log"; fail "unzip -t $zip"; }
  7z t "$zip" >"$work/7z.log" 2>&1 || { cat "$work/7z.log"; fail "7z t $zip"; }
  $PY - "$zip" <<'PYEOF' || fail "python zipfile $zip"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad: sys.exit("bad entry " + bad)
PYEOF
}
