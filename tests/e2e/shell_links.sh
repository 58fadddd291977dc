#!/usr/bin/env bash
# Shell layer against the real file system and an outside shortcut reader:
#  1. folder sizes do not follow symbolic links (made here from the Linux side,
#     since Wine cannot make them): a folder holding link loops is sized, in
#     finite time, as the bytes of its real files;
#  2. a shortcut read by our link reader shows the same fields as lnkinfo
#     (liblnk-utils) reads from the file.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
: "${WINEPREFIX:?run by scripts/test (WINEPREFIX must be set)}"
exe="$here/build/tests/test_shell.exe"
[ -f "$exe" ] || { echo "missing $exe"; exit 1; }
command -v lnkinfo >/dev/null || { echo "lnkinfo missing (scripts/setup installs liblnk-utils)"; exit 1; }

name="krv-e2e-shell-$$"
root="$WINEPREFIX/drive_c/$name"
winroot="C:\\$name"
trap 'rm -rf "$root"' EXIT
rm -rf "$root"
status=0

# 1. A tree of 7,000 bytes with loops back up and sideways.
mkdir -p "$root/tree/a/b" "$root/tree/c"
head -c 1000 /dev/zero > "$root/tree/one.bin"
head -c 2500 /dev/zero > "$root/tree/a/two.bin"
head -c 3500 /dev/zero > "$root/tree/a/b/three.bin"
ln -s .. "$root/tree/a/b/up"                 # loop to its parent
ln -s "$root/tree" "$root/tree/c/root"       # loop to the top, absolute
ln -s ../a "$root/tree/c/sideways"           # second way into a counted folder
if ! KRV_LINK_LOOP_DIR="$winroot\\tree" KRV_LINK_LOOP_BYTES=7000 timeout 300 wine "$exe" \
      --gtest_also_run_disabled_tests --gtest_filter='CalcFolderSizeLinks.*' > "$root/size.log" 2>&1; then
  echo "folder size with link loops: FAILED"; cat "$root/size.log"; status=1
else
  echo "folder size with link loops: ok"
fi

# 2. A shortcut: our reader's fields against lnkinfo's.
mkdir -p "$root/lnk"
if ! KRV_LNK_DIR="$winroot\\lnk" timeout 300 wine "$exe" --gtest_also_run_disabled_tests \
      --gtest_filter='ShellLinkPeer.*' > "$root/lnk.log" 2>&1; then
  echo "link reader run: FAILED"; cat "$root/lnk.log"; exit 1
fi
ours() { grep "^FIELD $1=" "$root/lnk.log" | head -n1 | cut -d= -f2- | tr -d '\r'; }
theirs() { lnkinfo "$root/lnk/peer.lnk" | grep -E "^\s*$1\s*:" | head -n1 | sed -E 's/^[^:]*:\s*//'; }
check() {   # label, our value, peer value
  if [ "$2" = "$3" ]; then echo "link $1: ok ($2)"; else echo "link $1: FAILED ours='$2' lnkinfo='$3'"; status=1; fi
}
check "target"      "$(ours target)"      "$(theirs 'Local path')"
check "description" "$(ours description)" "$(theirs 'Description')"
check "workdir"     "$(ours workdir)"     "$(theirs 'Working directory')"
check "arguments"   "$(ours arguments)"   "$(theirs 'Command line arguments')"
check "icon"        "$(ours icon)"        "$(theirs 'Icon location')"
check "icon index"  "$(ours iconindex)"   "$(theirs 'Icon index')"
# The hot key as the file holds it (16 bits at offset 0x40: key, then modifiers).
filehot=$(/usr/bin/python3 -c "import sys,struct; d=open(sys.argv[1],'rb').read(); print(struct.unpack_from('<H',d,0x40)[0])" "$root/lnk/peer.lnk")
check "hot key" "$(( $(ours hotkey) | ($(ours hotmods) << 8) ))" "$filehot"
exit $status
