#!/usr/bin/env bash
# Folder ticks from the folder tree into a session file and into archives.
# 1. The window test ticks folders with posted clicks and the space key, saves
#    the session, loads it back, runs a backup (FolderTree.TicksByMouseAndSpace…)
#    and leaves its folder for us: the session must hold the dir and dir_unsel
#    entries (xmllint), and korvane.exe run on it must archive exactly the
#    ticked files, with a subfolder made since the save going in with its
#    ticked parent. Both archives are read by unzip -t, 7z t and Python's
#    zipfile and compared with the source tree.
# 2. A session whose ticked folder is gone: named in red, counted as left out
#    (exit code 1), the rest archived.
# 3. A screenshot of the main window with the ticks: build/e2e/folder_select.png.
set -uo pipefail
e2e_name=folder_select
pid=""
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-fs-$$"
work="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
left=""
trap 'rm -rf "$work" ${left:+"$left"}' EXIT
mkdir -p "$work/dest" build/e2e

# Linux path of a Windows path under C:.
unix_path() { local p=${1#C:\\}; p=${p%\\}; echo "$WINEPREFIX/drive_c/${p//\\//}"; }

# Same entry names as the listed files below src (a trailing "/" names a
# folder entry), with contents and CRCs equal to the source files.
same_entries() {   # archive, src folder (Linux), its stored prefix, names...
  $PY - "$@" <<'PYEOF' || fail "entries of $1"
import sys, zipfile, zlib, os
zip, src, prefix, want = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
with zipfile.ZipFile(zip) as z:
    names = z.namelist()
    if len(names) != len(set(names)): sys.exit("duplicate entries: %r" % names)
    got = sorted(n[len(prefix):] if n.lower().startswith(prefix.lower()) else "!" + n for n in names)
    if got != sorted(want):
        sys.exit("entries differ:\n  got  %r\n  want %r" % (got, sorted(want)))
    for info in z.infolist():
        if info.filename.endswith("/"): continue
        data = open(os.path.join(src, *info.filename[len(prefix):].split("/")), "rb").read()
        if z.read(info) != data or info.CRC != (zlib.crc32(data) & 0xFFFFFFFF):
            sys.exit("content or CRC differs: " + info.filename)
PYEOF
}

# 1. Ticked by hand in the window test.
KRV_FOLDER_SELECT="$win\\root.txt" timeout 300 wine build/tests/test_app.exe \
  --gtest_filter='FolderTree.TicksByMouseAndSpace*' >"$work/test.log" 2>&1 \
  || { cat "$work/test.log"; fail "the ticking window test failed"; }
[ -s "$work/root.txt" ] || fail "the window test did not leave its folder"
root_win=$(tr -d '\r\n' < "$work/root.txt")
left=$(unix_path "$root_win")
[ -f "$left/ticks.xml" ] || fail "no session file in $left"
src_win="${root_win%\\}\\src"
dirs=$(xmllint --xpath '//SelectedDirectories/dir/@value' "$left/ticks.xml" | tr ' ' '\n' | sed -n 's/^value="\(.*\)"$/\1/p' | sort -f | tr '\n' '|')
want="$src_win\\docs|$src_win\\docs\\sub|$src_win\\pics|"
[ "${dirs,,}" = "${want,,}" ] || fail "dir entries: $dirs, want $want"
unsel=$(xmllint --xpath 'string(//SelectedDirectories/dir_unsel/@value)' "$left/ticks.xml")
[ "${unsel,,}" = "${src_win,,}\\docs\\skip" ] || fail "dir_unsel entry: $unsel"
ok "ticks given with the mouse and the space key are saved as dir and dir_unsel entries"

# The archive of the test's own run (after the session was loaded back).
prefix="C/${src_win#C:\\}/"
prefix="${prefix//\\//}"
peers_ok "$left/dest/X.zip"
same_entries "$left/dest/X.zip" "$left/src" "$prefix" \
  "docs/a.txt" "docs/sub/s.txt" "docs/sub/deep/" "docs/sub/deep/d.txt" "pics/p.jpg"
ok "the window's run archived exactly the ticked files (unzip/7z/zipfile)"

# korvane.exe on the saved session; docs/new was made after the save.
mkdir -p "$left/src/docs/new" && printf 'made later' > "$left/src/docs/new/n.txt"
cp build/dist/korvane.exe "$work/"
timeout 240 wine "$win\\korvane.exe" "$root_win\\ticks.xml" >/dev/null 2>&1
rc=$?
[ $rc -eq 124 ] && fail "the run of the saved session did not end"
[ $rc -eq 0 ] || fail "the run of the saved session exited with $rc"
peers_ok "$left/dest/X_1.zip"
same_entries "$left/dest/X_1.zip" "$left/src" "$prefix" \
  "docs/a.txt" "docs/new/n.txt" "docs/sub/s.txt" "docs/sub/deep/" "docs/sub/deep/d.txt" "pics/p.jpg"
ok "korvane.exe on the saved session: the ticked files, skip left out, a later subfolder taken"

# 2. A ticked folder that is gone.
mkdir -p "$work/src/more"
printf 'more' > "$work/src/more/m.txt"
S_NAME="FS gone" S_ARCHIVE=G.zip S_DEST="$win\\dest" \
  S_DIRS="$(dirs_xml "$win\\src\\gone" "$win\\src\\more")" session_file "$work/gone.xml"
timeout 240 wine "$win\\korvane.exe" "$win\\gone.xml" >/dev/null 2>&1
rc=$?
[ $rc -eq 1 ] || fail "a run with a gone folder exited with $rc, want 1"
peers_ok "$work/dest/G.zip"
same_entries "$work/dest/G.zip" "$work/src" "C/$name/src/" "more/m.txt"
grep -qF "$win\\src\\gone not found, skipped." "$work/temp/FS gone.log" \
  || fail "the gone folder is not named: $(cat "$work/temp/FS gone.log")"
grep -qx "Left out: 1" <(tr -d '\r' < "$work/temp/FS gone.log") || fail "the gone folder is not counted"
ok "a gone folder is named and counted (exit code 1), the rest archived"

# 3. The main window with the ticks of the saved session.
shot=build/e2e/folder_select.png
# It stays open (bounded) until it is closed once the picture is taken.
wine build/dist/foldershow.exe "$root_win\\ticks.xml" "$wait_bound" >/dev/null 2>&1 &
pid=$!
wait_window "Korvane 0.9.1"
# The icons of the opened folders come a moment later, later on a busy
# machine: look again until the picture has them (bounded), judge the last.
for _ in $(seq 1 $((wait_bound * 2))); do
  import -window root "$shot" || fail "screenshot failed"
  colours=$(identify -format '%k' "$shot")
  [ "$colours" -gt 50 ] && break
  sleep 0.5
done
wine build/tests/tools/winmsg.exe close "Korvane 0.9.1" "$wait_bound" >/dev/null 2>&1 || fail "the main window could not be closed"
timeout "$wait_bound" tail --pid="$pid" -f /dev/null || fail "foldershow.exe did not end after its window was closed"
wait $pid || fail "foldershow.exe ended with $?"
pid=""
[ "$colours" -gt 50 ] || fail "the screenshot looks blank ($colours colours)"
ok "screenshot $shot ($colours colours); the window closed cleanly"

echo "folder_select: passed"
