#!/usr/bin/env bash
# Session files and session shortcuts against outside readers:
#  1. a freshly saved session and a re-saved hand-made one (no Filters)
#     validate with xmllint against the layout schema (order, value
#     attributes), and their bytes are ISO-8859-1;
#  2. a hand-edited file keeps its comment and foreign element through a
#     save and a last-backup rewrite, and holds the new values;
#  3. the session shortcut reads back with lnkinfo: target, arguments,
#     working folder, icon.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
: "${WINEPREFIX:?run by scripts/test (WINEPREFIX must be set)}"
exe="$here/build/tests/test_app.exe"
xsd="$here/tests/e2e/session/session.xsd"
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }
command -v xmllint >/dev/null || { echo "xmllint missing (scripts/setup installs libxml2-utils)"; exit 1; }
command -v lnkinfo >/dev/null || { echo "lnkinfo missing (scripts/setup installs liblnk-utils)"; exit 1; }

name="krv-e2e-session-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
trap 'rm -rf "$root"' EXIT
rm -rf "$root"; mkdir -p "$root"
status=0
ok() { echo "$1: ok"; }
bad() { echo "$1: FAILED $2"; status=1; }

printf 'MZ' > "$root/korvane.exe"
# Hand-made files in Latin-1 (\351 is e acute).
printf '<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<Korvane ver="0.9.1">\r\n<SessionName value="Hand"/><ArchiveName value="Hand.zip"/>\r\n<GenericOptions><Creation value="12/6/2026 12:00:00 PM"/></GenericOptions>\r\n<MailOptions/>\r\n<SelectedDirectories><dir_unsel value="C:\\D\\x"/><dir value="C:\\D"/></SelectedDirectories>\r\n</Korvane>\r\n' > "$root/handmade.xml"
printf '<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<Korvane ver="0.9.1">\r\n<!-- edited by hand: caf\351 -->\r\n<SessionName value="Commented"/><ArchiveName value="Old.zip"/>\r\n<GenericOptions><SubFolders value="True"/><CloseKRV value="False"/><RWDisk value="True"/><Device value="0"/><DirHD value=""/><OverwriteHD value="False"/><Type value="1"/><Creation value="12/6/2026 12:00:00 PM"/><LastSave value="12/6/2026 12:00:00 PM"/><LastBackup value="12:00:00 AM"/></GenericOptions>\r\n<MailOptions><Active value="False"/><Address value=""/><SMTP value=""/><DoLogin value="False"/><UserName value=""/><Password value=""/><Log value="1"/></MailOptions>\r\n<Filters><Active value="False"/><InclusionMask value=""/><ExclusionMask value=""/></Filters>\r\n<Foreign keep="yes"/>\r\n<SelectedDirectories/>\r\n</Korvane>\r\n' > "$root/commented.xml"

if ! KRV_SESSION_DIR="$win" timeout 300 wine "$exe" --gtest_also_run_disabled_tests \
      --gtest_filter='SessionPeer.*' > "$root/run.log" 2>&1; then
  echo "session writer run: FAILED"; cat "$root/run.log"; exit 1
fi
lastbackup=$(grep '^LASTBACKUP=' "$root/run.log" | head -n1 | cut -d= -f2- | tr -d '\r')

# 1. Complete files validate against the layout.
for f in fresh.xml handmade-resaved.xml; do
  if out=$(xmllint --noout --schema "$xsd" "$root/$f" 2>&1); then ok "schema $f"; else bad "schema $f" "$out"; fi
done
xp() { xmllint --xpath "string($2)" "$root/$1" 2>/dev/null; }
[ "$(xp fresh.xml /Korvane/SessionName/@value)" = "Café job" ] && ok "Latin-1 value read by xmllint" \
  || bad "Latin-1 value" "$(xp fresh.xml /Korvane/SessionName/@value)"
head -c 60 "$root/fresh.xml" | grep -q 'encoding="ISO-8859-1"' && ok "declared encoding" || bad "declared encoding" ""
grep -q $'Caf\xe9 job' "$root/fresh.xml" && ok "single-byte e acute in the file" || bad "single-byte e acute" ""
grep -q $'\xc3\xa9' "$root/fresh.xml" && bad "no UTF-8 bytes" "found" || ok "no UTF-8 bytes"
[ "$(xp fresh.xml /Korvane/GenericOptions/RWDisk/@value)" = "True" ] && ok "RWDisk" || bad "RWDisk" ""
[ "$(xp fresh.xml /Korvane/GenericOptions/Device/@value)" = "-1" ] && ok "Device" || bad "Device" ""
[ "$(xp fresh.xml 'name(/Korvane/SelectedDirectories/*[1])')" = "dir" ] && ok "dir first" || bad "dir first" ""
[ "$(xp fresh.xml /Korvane/SelectedDirectories/dir_unsel/@value)" = 'C:\Data\Cache' ] && ok "dir_unsel" || bad "dir_unsel" ""
[ "$(xp handmade-resaved.xml /Korvane/SelectedDirectories/dir/@value)" = 'C:\D' ] && ok "hand-made dirs kept" || bad "hand-made dirs" ""
[ "$(xp handmade-resaved.xml 'count(/Korvane/Filters/*)')" = "3" ] && ok "missing Filters completed" || bad "Filters completed" ""

# 2. Comments and foreign elements survive a save and the last-backup rewrite.
if xmllint --noout "$root/commented.xml" 2>/dev/null; then ok "commented file well-formed"; else bad "commented well-formed" ""; fi
grep -q $'edited by hand: caf\xe9' "$root/commented.xml" && ok "comment kept" || bad "comment kept" ""
[ "$(xp commented.xml /Korvane/Foreign/@keep)" = "yes" ] && ok "foreign element kept" || bad "foreign element" ""
[ "$(xp commented.xml /Korvane/ArchiveName/@value)" = "Changed.zip" ] && ok "new value saved" || bad "new value" ""
[ "$(xp commented.xml /Korvane/GenericOptions/LastBackup/@value)" = "$lastbackup" ] && ok "last backup rewritten" \
  || bad "last backup" "$(xp commented.xml /Korvane/GenericOptions/LastBackup/@value) vs $lastbackup"

# 3. The shortcut.
lnk="$root/Fresh.lnk"
[ -f "$lnk" ] || { echo "shortcut missing"; exit 1; }
field() { lnkinfo "$lnk" | grep -E "^\s*$1\s*:" | head -n1 | sed -E 's/^[^:]*:\s*//'; }
check() { if [ "$2" = "$3" ]; then ok "link $1 ($2)"; else bad "link $1" "got '$2' want '$3'"; fi; }
check "target"    "$(field 'Local path' | tr 'a-z' 'A-Z')" "$(echo "$win\\korvane.exe" | tr 'a-z' 'A-Z')"
check "arguments" "$(field 'Command line arguments')" "\"$win\\fresh.xml\" \"Data\""
check "working folder" "$(field 'Working directory')" "$win\\"
check "icon"      "$(field 'Icon location')" "$win\\\\korvane.exe"
exit $status
