#!/usr/bin/env bash
# The tree's content export against outside readers: the export tests first
# prove that the tree's output equals the committed golden files byte for
# byte, then Python's html.parser reads the HTML table and the clipboard's
# "HTML Format" (its offsets included) and the csv module reads the CSV and
# text exports; every cell must read back as the tree holds it.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
: "${WINEPREFIX:?run by scripts/test (WINEPREFIX must be set)}"
exe="$here/build/tests/test_tree.exe"
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }
status=0
if timeout 300 wine "$exe" --gtest_filter='Export.*' </dev/null >/tmp/krv-e2e-export-$$.log 2>&1; then
  echo "export goldens: ok"
else
  cat /tmp/krv-e2e-export-$$.log; echo "export goldens: FAILED"; status=1
fi
rm -f /tmp/krv-e2e-export-$$.log
/usr/bin/python3 "$here/tests/e2e/export/check_export.py" "$here/tests/tree/golden" || status=1
exit $status
