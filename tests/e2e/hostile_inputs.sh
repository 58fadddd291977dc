#!/usr/bin/env bash
# Inputs no ordinary session holds, one table: values too long to use, a file
# too large, an unknown destination type, a too long archive argument, the
# end of the Windows session sent (the process left to end itself), two runs
# of one session at once, a German run, folders and files the search cannot
# take as they are, values and names the program writes itself. Each row
# checks exit code, report lines and the destination. KORVANE_EXE names an older korvane.exe to try;
# a pattern as the first argument runs only the rows it matches ('link*').
set -uo pipefail
e2e_name=hostile_inputs
. "$(dirname "$0")/lib/common.sh"

name="krv-e2e-hostile-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
winmsg="build/tests/tools/winmsg.exe"
pid="" pid2=""
cleanup() { [ -n "$pid$pid2" ] && kill -9 $pid $pid2 2>/dev/null; rm -rf "$root" "${docs:-$root}/$name"; }
trap cleanup EXIT
[ -f "$winmsg" ] || fail "$winmsg is not built"
mkdir -p "$root/src/small" "$root/src/big" "$root/lang"
printf 'small' > "$root/src/small/s.txt"
# Files of incompressible data, for the runs held in the middle (endsession, twice).
for i in $(seq 1 6); do head -c 16000000 /dev/urandom > "$root/src/big/r$i.bin"; done
cp build/dist/lang/Deutsch.lang "$root/lang/"
small=$(dirs_xml "$win\\src\\small")
big=$(dirs_xml "$win\\src\\big")

# Each case's session file; in some, one value made that many characters long.
setup() {   # case file
  declare -F "setup_$1" >/dev/null && { "setup_$1" "$2"; return; }
  local dirs=$small type=1
  case $1 in endsession | twice) dirs=$big ;; type2) type=2 ;; *) [ -d "$root/$1/src" ] && dirs=$(dirs_xml "$win\\$1\\src") ;; esac
  S_NAME=$1 S_TYPE=$type S_DEST="$win\\$1\\dest" S_DIRS=$dirs session_file "$2"
  case $1 in name300k) set -- "$2" SessionName 307200 ;; name9m) set -- "$2" SessionName 9437184 ;;
    device7m) set -- "$2" Device 7340032 ;; *) return ;; esac
  $PY -c 'import re, sys; p, e, n = sys.argv[1:]; t = open(p, encoding="latin-1").read()
open(p, "w", encoding="latin-1").write(re.sub("<%s value=\"[^\"]*\"" % e, "<%s value=\"%s\"" % (e, "v" * int(n)), t, count=1))' "$@"
}

# Waits (bounded) until the run started as $pid stands at read N of its
# read gate (KORVANE_TEST_READ_GATE), where it waits for read<N>.go.
wait_read() {   # gate-folder N what
  for _ in $(seq 1 $((wait_bound * 4))); do [ -f "$1/read$2.at" ] && return 0; kill -0 "$pid" 2>/dev/null || break; sleep 0.25; done
  fail "$3 did not come"
}
# Waits (bounded) for a program started in the background; its exit code in $rc.
wait_end() { timeout "$wait_bound" tail --pid="$1" -f /dev/null || fail "the program was still running $wait_bound s on"; wait "$1"; rc=$?; }

# Runs the case its way; sets rc.
run_case() {   # case
  local exe="$win\\$1\\prog\\korvane.exe" job="$win\\$1\\$1.xml"
  case $1 in
    archarg) timeout "$wait_bound" wine "$exe" "$job" "$(printf 'a%.0s' $(seq 300))" >/dev/null 2>&1; rc=$? ;;
    noperm) timeout "$wait_bound" $without_bypass wine "$exe" "$job" >/dev/null 2>&1; rc=$? ;;
    endsession)
      # Held at its first file until it is stopped: the end of the session
      # lands while the archive is being written, however busy the machine.
      KORVANE_TEST_HOLD_UNTIL_STOPPED=1 wine "$exe" "$job" >/dev/null 2>&1 & pid=$!
      wait_window "Korvane :: File compression..."
      wine "$winmsg" endsession "Korvane 0.9.1" "$wait_bound" >"$root/winmsg.out" 2>&1 || fail "$1: $(cat "$root/winmsg.out")"
      wait_end "$pid"; pid="" ;;
    twice)
      # The first run is held at its first read, whatever the machine's load,
      # while the second runs whole; then its reads go on.
      mkdir -p "$root/$1/gate"
      KORVANE_TEST_READ_GATE="$win\\$1\\gate" wine "$exe" "$job" >/dev/null 2>&1 & pid=$!
      wait_read "$root/$1/gate" 1 "$1: the first run's first read"
      wine "$exe" "$job" >/dev/null 2>&1 & pid2=$!
      wait_end "$pid2"; [ "$rc" -eq 0 ] || fail "$1: the second run exited with $rc"; pid2=""
      for n in $(seq 1 6); do touch "$root/$1/gate/read$n.go"; done
      wait_end "$pid"; pid="" ;;
    *) if declare -F "run_$1" >/dev/null; then "run_$1" "$exe" "$job"
       else timeout "$wait_bound" wine "$exe" "$job" >/dev/null 2>&1; rc=$?; fi ;;
  esac
  [ "$rc" -eq 124 ] && fail "$1: the run did not end within $wait_bound s"
}

# case | exit code | report file | a line the report holds | its last line | the destination's files
table=(
  "name300k|3|name300k|SessionName holds 307200 characters, the limit is 1024.|Operation aborted|"
  "name9m|3|name9m|The session file is too large to be read: |Operation aborted|"
  "device7m|3|device7m|Device holds 7340032 characters, the limit is 64.|Operation aborted|"
  "type2|3|type2|destination type the program does not know (0 disc, 1 hard disk): Type \"2\"|Operation aborted|"
  "archarg|3|archarg|ArchiveName holds 300 characters, the limit is 255.|Operation aborted|"
  "endsession|2|endsession|Windows is ending the session: the backup is stopped|Operation aborted|"
  "twice|0|twice_1|Another run of this session is writing its report; this report is saved as $win\\twice\\prog\\temp\\twice_1.log|Backup done|X.zip X_1.zip"
  "german|0|german|Archivierte Dateien: 1 (5 Bytes)|Sicherung fertig|X.zip"
)

# Folders and files the search cannot take as they are: a folder whose
# permissions are removed (the run without the capability to bypass them), a
# tree nested past the host's path limit (under Wine a path past about 4,096
# bytes cannot be listed), links to a folder outside (a sibling whose name
# begins with src) and inside the backed-up folder (a plain line, not counted),
# names ending in a space or a dot, a file read short of its size as one cut
# while read (a link to a kernel file: 4096 bytes said, fewer read). Every
# fixture folder holds a file, so a folder entry without one is a
# failed listing stored as an empty folder; entries_ok checks that and the
# row's own entries (+ held, - not held, below src/; %20 a space).
without_bypass=""
[ "$(id -u)" -eq 0 ] && without_bypass="setpriv --bounding-set=-dac_override,-dac_read_search"
mkdir -p "$root/noperm/src/shut" "$root/folderlink/src/real" "$root/folderlink/srcX" "$root/linkinside/src/real" \
  "$root/namedots/src/dir." "$root/deeppath/src" "$root/shrinks/src"
printf 'o' > "$root/noperm/src/open.txt"; printf 's' > "$root/noperm/src/shut/s.txt"; chmod 000 "$root/noperm/src/shut"
printf 'r' > "$root/folderlink/src/real/r.txt"; printf 'x' > "$root/folderlink/srcX/x.txt"
ln -s "$root/folderlink/srcX" "$root/folderlink/src/link"
printf 'r' > "$root/linkinside/src/real/r.txt"; ln -s "$root/linkinside/src/real" "$root/linkinside/src/link"
short=$(for f in $(find /sys/kernel -maxdepth 3 -type f -perm -u=r 2>/dev/null | head -n 200); do
  [ "$(stat -L -c %s "$f")" -gt "$(head -c 8192 "$f" 2>/dev/null | wc -c)" ] && { echo "$f"; break; }; done)
[ -n "$short" ] || fail "shrinks: no kernel attribute file that reads short of its size"
printf 'k' > "$root/shrinks/src/keep.txt"; ln -s "$short" "$root/shrinks/src/cut.txt"
for f in "g." "h " "dir./in.txt"; do printf 'n' > "$root/namedots/src/$f"; done
# 40 levels of 199-character names below a folder whose name puts the host's
# limit mid-way between two levels, a file "f" at each level.
$PY - "$root/deeppath/src" <<'DEEP' || fail "deeppath: the fixture could not be made"
import os, sys
pad = "p" * (1 + (4096 - len(sys.argv[1]) - 102) % 200)
fd = os.open(sys.argv[1], os.O_RDONLY)
for name in [pad] + ["d%02d" % i + "x" * 196 for i in range(40)]:
    os.mkdir(name, dir_fd=fd)
    fd = os.open(name, os.O_RDONLY, dir_fd=fd)
    os.close(os.open("f", os.O_WRONLY | os.O_CREAT, dir_fd=fd))
DEEP
declare -A entries=([noperm]="+open.txt -shut/" [folderlink]="+real/r.txt -link/ -link/x.txt"
  [linkinside]="+real/r.txt -link/ -link/r.txt" [shrinks]="+keep.txt -cut.txt"
  [namedots]="+g. +h%20 +dir./in.txt" [deeppath]="")
entries_ok() {   # case
  $PY - "$root/$1/dest/X.zip" "$root/$1/prog/temp/$1.log" ${entries[$1]} <<'ENTRIES' || fail "$1: the archive's entries"
import sys, zipfile
archive, report, *want = sys.argv[1:]
stored = {n.split("/src/", 1)[1]: n for n in zipfile.ZipFile(archive).namelist() if "/src/" in n}
names = set(stored) - {""}
files = {n for n in names if not n.endswith("/")}
empty = [d for d in names if d.endswith("/") and not any(f.startswith(d) for f in files)]
if empty: sys.exit("folders stored as empty: %s" % empty)
for w in (w.replace("%20", " ") for w in want):
    # -folder/: nothing at or below it
    held = any(n.startswith(w[1:]) for n in names) if w.endswith("/") and w[0] == "-" else w[1:] in names
    if held != (w[0] in "+~"): sys.exit("%s %s: %s" % ("lacks" if w[0] in "+~" else "holds", w[1:], sorted(names)))
src = archive.rsplit("/dest/", 1)[0] + "/src/"
for f in files - {w[1:] for w in want if w[0] == "~"} if want else ():   # every stored file as its source holds it (~: its row checks it)
    if zipfile.ZipFile(archive).read(stored[f]) != open(src + f, "rb").read(): sys.exit("%s differs from its source" % f)
if not want:   # the deep tree: every level above the one named too long, and nothing of it
    lines = [l for l in open(report, encoding="utf-8", errors="replace") if "the path is too long" in l]
    if len(lines) != 1: sys.exit("%d lines name a path too long" % len(lines))
    levels = lines[0].split("\\src\\", 1)[1].split(":")[0].split("\\")
    above = {"/".join(levels[:i]) + "/f" for i in range(1, len(levels))}
    if files != above or len(levels) < 5: sys.exit("files %d, want the %d above level %d" % (len(files), len(above), len(levels)))
ENTRIES
}
# Two folders whose names differ only in Unicode normalisation (é as one
# character, as e and a combining accent): each ticked path is its own folder.
nfc=$'Caf\303\251' nfd=$'Cafe\314\201'
for c in nfboth nfcone; do mkdir -p "$root/$c/src/$nfc" "$root/$c/src/$nfd"; printf 'c' > "$root/$c/src/$nfc/c.txt"; printf 'd' > "$root/$c/src/$nfd/d.txt"; done
entries+=([nfboth]="+$nfc/c.txt +$nfd/d.txt" [nfcone]="+$nfc/c.txt -$nfd/d.txt")
table+=("nfboth|0|nfboth|Left out: 0|Backup done|X.zip" "nfcone|0|nfcone|Left out: 0|Backup done|X.zip")
# Names that differ only in letter case (Wine lists a folder of the Linux
# side as it is), each with a content of its own: each ticked path, and each
# found name, is that entry. Where only "data" is there, a session's "DATA"
# reaches it, as on a folder that does not tell case apart (so does its
# destination typed "DEST"). Folders whose
# real names end in a dot or a blank, beside "dir": each ticked one is itself.
for c in caseone caseall caseparent casefold; do mkdir -p "$root/$c/src/data"; printf 'lower %s' $c > "$root/$c/src/data/x.txt"; done
for c in caseone caseall caseparent; do mkdir -p "$root/$c/src/Data" "$root/$c/src/DATA"
  printf 'First upper' > "$root/$c/src/Data/x.txt"; printf 'ALL UPPER %s' $c > "$root/$c/src/DATA/x.txt"; done
printf 'small x' > "$root/caseparent/src/x.txt"; printf 'BIG X' > "$root/caseparent/src/X.txt"
mkdir -p "$root/dotnames/src/dir." "$root/dotnames/src/dir" "$root/dotnames/src/sp "
printf 'dot' > "$root/dotnames/src/dir./in.txt"; printf 'plain' > "$root/dotnames/src/dir/in.txt"; printf 'blank' > "$root/dotnames/src/sp /s.txt"
setup_ticked() {   # file case names below src
  local c=$2 d=() n; for n in "${@:3}"; do d+=("$win\\$c\\src\\$n"); done
  S_NAME=$c S_DEST="$win\\$c\\${dest:-dest}" S_DIRS=$(dirs_xml "${d[@]}") session_file "$1"; }
setup_nfboth() { setup_ticked "$1" nfboth "Caf&#233;" "Cafe&#769;"; }
setup_nfcone() { setup_ticked "$1" nfcone "Caf&#233;"; }
setup_caseone() { setup_ticked "$1" caseone data; }
setup_caseall() { setup_ticked "$1" caseall Data data DATA; }
setup_casefold() { dest=DEST setup_ticked "$1" casefold DATA; }
setup_dotnames() { setup_ticked "$1" dotnames dir. "sp "; }
entries+=([caseone]="+data/x.txt -Data/x.txt -DATA/x.txt" [caseall]="+data/x.txt +Data/x.txt +DATA/x.txt"
  [caseparent]="+data/x.txt +Data/x.txt +DATA/x.txt +x.txt +X.txt" [casefold]="+data/x.txt"
  [dotnames]="+dir./in.txt -dir/in.txt +sp%20/s.txt")
for c in caseone caseall caseparent dotnames; do table+=("$c|0|$c|Left out: 0|Backup done|X.zip"); done
table+=("casefold|0|casefold|Archive: $win\\casefold\\dest\\X.zip|Backup done|X.zip")
table+=(
  "noperm|1|noperm|$win\\noperm\\src\\shut: cannot be read: access denied|Backup done|X.zip"
  "deeppath|1|deeppath|: the path is too long to be read|Backup done|X.zip"
  "folderlink|1|folderlink|$win\\folderlink\\src\\link: a link to a folder, not followed|Backup done|X.zip"
  "linkinside|0|linkinside|$win\\linkinside\\src\\link: a link to a folder, not followed: its target is backed up|Backup done|X.zip"
  "shrinks|1|shrinks|$win\\shrinks\\src\\cut.txt changed while it was read, skipped.|Backup done|X.zip"
  "namedots|0|namedots|Left out: 0|Backup done|X.zip"
)

# A file rewritten in place (the same size, a time of its own) while the run
# reads it: the worker waits at the first block boundary of each read
# (KORVANE_TEST_READ_GATE) while the row's action for that read is done.
# Rewritten whole amid its first read, it is read again and stored as it then
# is, with no line; rewritten again amid the second read (only the head that
# read has passed), the copy read last is kept, named and counted. Either way
# the stored file is its state 1, byte for byte; it is never read a third time.
state_py='import os, sys
def state(n): return b"".join(b"state %d line %08d\n" % (n, i) for i in range(900000))'
for c in rewritten rewrittentwice; do mkdir -p "$root/$c/src" "$root/$c/gate"
  $PY -c "$state_py"'
open(sys.argv[1], "wb").write(state(0))' "$root/$c/src/db.bin"; done
rewrite_run() {   # exe job case action-per-read... (whole, head or keep)
  local exe=$1 job=$2 c=$3 gate="$root/$3/gate" n=0 a; shift 3
  KORVANE_TEST_READ_GATE="$win\\$c\\gate" wine "$exe" "$job" >/dev/null 2>&1 & pid=$!
  for a in "$@"; do
    n=$((n + 1))
    wait_read "$gate" "$n" "$c: read $n of db.bin"
    [ "$a" = keep ] || $PY -c "$state_py"'
data = state(int(sys.argv[2]))[:None if sys.argv[3] == "whole" else 1 << 20]
with open(sys.argv[1], "r+b") as f: f.write(data)
os.utime(sys.argv[1], (1e9, 1e9 + 10 * int(sys.argv[2])))' "$root/$c/src/db.bin" "$n" "$a"
    touch "$gate/read$n.go"
  done
  wait_end "$pid"; pid=""
  [ -f "$gate/read$((n + 1)).at" ] && fail "$c: db.bin was read more than $n times"
  $PY -c "$state_py"'
import zipfile
z = zipfile.ZipFile(sys.argv[1]); name = [n for n in z.namelist() if n.endswith("/src/db.bin")][0]
if z.read(name) != state(1): sys.exit("the stored db.bin is not the state the file had after its first rewrite")' \
    "$root/$c/dest/X.zip" || fail "$c: the stored copy"
}
run_rewritten() { rewrite_run "$1" "$2" rewritten whole keep
  grep -q "changed while" "$root/rewritten/prog/temp/rewritten.log" && fail "rewritten: a line names the file read again"; }
run_rewrittentwice() { rewrite_run "$1" "$2" rewrittentwice whole head
  grep -qx "Of these, changed while read: 1" <(tr -d '\r' < "$root/rewrittentwice/prog/temp/rewrittentwice.log") \
    || fail "rewrittentwice: the summary does not count it"; }
entries+=([rewritten]="~db.bin" [rewrittentwice]="~db.bin")
table+=(
  "rewritten|0|rewritten|Left out: 0|Backup done|X.zip"
  "rewrittentwice|1|rewrittentwice|$win\\rewrittentwice\\src\\db.bin changed while it was read; the stored copy may not be whole.|Backup done|X.zip"
)

# Links to a folder below a folder ticked in part (skip unticked): none is
# followed. To the unticked folder, outside, or to "SRC" beside the
# backed-up "src": red, counted; to the folder itself: plain, its target is
# backed up as ticked. In a folder ticked whole, a link whose target a mask
# excludes (the drive typed in lower case, as the folder and the masks of
# that session are): plain, and says so. What the user ticks is reached
# through a link: a ticked link (its target's own link to a folder inside it
# is not followed, and is backed up there), a folder ticked below one, a
# folder in the prefix's own Documents (a link, into the build tree).
lower="c${win:1}"
setup_link() {   # file, named after its case
  local c dirs filters=False mask=""; c=$(basename "$1" .xml); dirs="$(dirs_xml "$win\\$c\\src")<dir_unsel value=\"$win\\$c\\src\\skip\"/>"
  case $c in linkexcl) dirs=$(dirs_xml "$lower\\$c\\src") filters=True mask="$lower\\$c\\src\\skip;$lower\\$c\\src\\*.tmp" ;;
    linktick) dirs=$(dirs_xml "$win\\$c\\src\\keep" "$win\\$c\\src\\link") ;;
    linkbelow) dirs=$(dirs_xml "$win\\$c\\src\\link\\work") ;;
    linkdocs) dirs=$(dirs_xml "C:\\users\\$(whoami)\\Documents\\$name\\src") ;; esac
  S_NAME=$c S_DEST="$win\\$c\\dest" S_DIRS=$dirs S_FILTERS=$filters S_EXCLUDE=$mask session_file "$1"
}
for c in linkskip:src/skip linkparent:src linkout:srcX linkexcl:src/skip linktick:srcX linklook:SRC linkbelow:srcX; do
  d=$root/${c%:*}; mkdir -p "$d/src/keep" "$d/src/skip" "$d/srcX/work" "$d/SRC"; ln -s "$d/${c#*:}" "$d/src/link"
  printf 't' > "$d/src/top.txt"; printf 'k' > "$d/src/keep/k.txt"; printf 's' > "$d/src/skip/s.txt"; printf 'x' > "$d/srcX/x.txt"
  printf 'w' > "$d/srcX/work/w.txt"; printf 'u' > "$d/SRC/u.txt"; printf 'm' > "$d/src/t.tmp"
  entries[${c%:*}]="+top.txt +keep/k.txt -skip/ -link/"
  eval "setup_${c%:*}() { setup_link \"\$1\"; }"
done
ln -s "$root/linktick/srcX/work" "$root/linktick/srcX/inner"
docs=$(readlink "$WINEPREFIX/drive_c/users/$(whoami)/Documents") || fail "linkdocs: the prefix's Documents is not a link"
case $docs in "$here/build/"*) ;; *) out=$docs docs=; fail "linkdocs: the prefix's Documents leads out of the build tree, to $out" ;; esac
rm -rf "${docs:?}/$name"; mkdir -p "$docs/$name/src/keep" "$root/linkdocs"; ln -s "$docs/$name/src" "$root/linkdocs/src"; setup_linkdocs() { setup_link "$1"; }
printf 'd' > "$docs/$name/src/d.txt"; printf 'k' > "$docs/$name/src/keep/k.txt"
entries+=([linkexcl]="+top.txt +keep/k.txt -skip/ -link/ -t.tmp" [linktick]="-top.txt +keep/k.txt -skip/ +link/x.txt +link/work/w.txt -link/inner/"
  [linkbelow]="-top.txt +link/work/w.txt -link/x.txt" [linkdocs]="+d.txt +keep/k.txt")
for c in linkskip linkout linklook; do table+=("$c|1|$c|=$win\\$c\\src\\link: a link to a folder, not followed|Backup done|X.zip"); done
table+=(
  "linkparent|0|linkparent|=$win\\linkparent\\src\\link: a link to a folder, not followed: its target is backed up|Backup done|X.zip"
  "linkexcl|0|linkexcl|=$win\\linkexcl\\src\\link: a link to a folder, not followed: its target is excluded|Backup done|X.zip"
  "linktick|0|linktick|=$win\\linktick\\src\\link\\inner: a link to a folder, not followed: its target is backed up|Backup done|X.zip"
  "linkbelow|0|linkbelow|Left out: 0|Backup done|X.zip"
  "linkdocs|0|linkdocs|Left out: 0|Backup done|X.zip"
)
# A destination inside the ticked folder, typed with the drive in lower case,
# Overwrite on: neither the run's own temporary archive nor, on the second
# run, the archive it replaces is taken into the backup.
mkdir -p "$root/lowerdest/src/dest"; printf 'l' > "$root/lowerdest/src/l.txt"; printf 'o' > "$root/lowerdest/src/dest/o.txt"
setup_lowerdest() { S_NAME=lowerdest S_DEST="$lower\\lowerdest\\src\\dest" S_OVERWRITE=True S_DIRS=$(dirs_xml "$lower\\lowerdest\\src") session_file "$1"; }
run_lowerdest() {
  timeout "$wait_bound" wine "$1" "$2" >/dev/null 2>&1; rc=$?
  [ "$rc" -eq 0 ] || fail "lowerdest: the first run exited with $rc: $(grep -a -m 2 skipped "$root/lowerdest/prog/temp/lowerdest.log")"
  timeout "$wait_bound" wine "$1" "$2" >/dev/null 2>&1; rc=$?
  [ "$(ls "$root/lowerdest/src/dest" | tr '\n' ' ')" = "X.zip o.txt " ] || fail "lowerdest: dest holds $(ls "$root/lowerdest/src/dest")"
  cp "$root/lowerdest/src/dest/X.zip" "$root/lowerdest/dest/"
}
entries[lowerdest]="+l.txt +dest/o.txt -dest/X.zip"
table+=("lowerdest|0|lowerdest|Left out: 0|Backup done|X.zip")

# Paths a person gives read as Windows reads them: a destination typed with
# a final dot, an inclusion mask and an absolute exclusion mask ending in a
# blank. A destination that fits Windows' 260 characters but not 260 bytes of
# UTF-8 (its folder reached through dest, a link) leaves only its archive.
mkdir -p "$root/typed/src"; for f in s.txt a.doc skip.doc; do printf 't' > "$root/typed/src/$f"; done
entries[typed]="+s.txt +a.doc -skip.doc"
setup_typed() { S_NAME=typed S_DEST="$win\\typed\\dest." S_DIRS=$(dirs_xml "$win\\typed\\src") S_FILTERS=True \
  S_INCLUDE="*.doc;s.txt " S_EXCLUDE="$win\\typed\\src\\skip.doc. " session_file "$1"; }
deep=$($PY -c 'print("".join(chr(0x4E00 + i) for i in range(45)) + "/" + "".join(chr(0x4E80 + i) for i in range(45)))')
setup_cjkdest() { mkdir -p "$root/cjkdest/$deep" && rmdir "$root/cjkdest/dest" && ln -s "$deep" "$root/cjkdest/dest"
  S_NAME=cjkdest S_DEST="$win\\cjkdest\\$(xml_text "${deep/\//\\}")" S_DIRS=$small session_file "$1"; }
table+=(
  "typed|0|typed|Archive: $win\\typed\\dest\\X.zip|Backup done|X.zip"
  "cjkdest|0|cjkdest|Left out: 0|Backup done|X.zip"
)

# Values and names the program writes itself: limits count characters; long
# session names sharing their first 100 characters keep a report each; a
# refused login gives the server's reply. The host keeps at most 255 bytes of
# UTF-8 in a name: the 134-character one (264 bytes) is refused before anything is written.
xml_text() { $PY -c 'import sys; print(sys.argv[1].encode("ascii", "xmlcharrefreplace").decode())' "$1"; }
name_hash() { $PY -c 'import sys, functools; print("%08x" % functools.reduce(lambda h, c: (h ^ c) * 16777619 % 2 ** 32, sys.argv[1].encode(), 2166136261))' "$1"; }
cjk=$($PY -c 'print("".join(chr(0x4E00 + i) for i in range(100)))')
setup_accent134() { S_NAME=accent134 S_ARCHIVE="$(printf '&#233;%.0s' $(seq 130)).zip" S_DEST="$win\\accent134\\dest" S_DIRS=$small session_file "$1"; }
cjk_name() { echo "$cjk$(printf "$1%.0s" $(seq 20))"; }   # the 100 characters shared, then 20 of its own
setup_cjk() { local n; for n in A:甲 B:乙; do
  S_NAME=$(xml_text "$(cjk_name "${n#*:}")") S_DEST="$win\\cjk\\dest" S_DIRS=$small session_file "${1%.xml}${n%:*}.xml"; done; }
run_cjk() {   # exe job: the two sessions, one after the other, each with a report of its own
  timeout "$wait_bound" wine "$1" "${2%.xml}A.xml" >/dev/null 2>&1 || fail "cjk: the first session exited with $?"
  timeout "$wait_bound" wine "$1" "${2%.xml}B.xml" >/dev/null 2>&1; rc=$?
  [ "$(ls "$root/cjk/prog/temp" | grep -c '\.log$')" -eq 2 ] || fail "cjk: not two reports: $(ls "$root/cjk/prog/temp")"
  grep -qxF "Archive: $win\\cjk\\dest\\X.zip" <(tr -d '\r' < "$root/cjk/prog/temp/"*"~$(name_hash "$(cjk_name 甲)").log") \
    || fail "cjk: the first session's report is not its own"
}
setup_login() {
  S_NAME=login S_DEST="$win\\login\\dest" S_DIRS=$small S_MAIL=True S_ADDRESS=admin@korvane.test S_SMTP=$mail_host session_file "$1"
  sed -i 's|<DoLogin value="False"/><UserName value=""/><Password value=""/>|<DoLogin value="True"/><UserName value="korvane"/><Password value="wrong"/>|' "$1"
}
run_login() {
  $PY tests/smtppeer/smtp_server.py "$mail_host" 25 korvane right "$root/login" > "$root/server.log" 2>&1 & server_pid=$!
  wait_server_ready "$root/server.log" "$root/server.log" "the mail server on $mail_host:25"
  timeout "$wait_bound" wine "$1" "$2" >/dev/null 2>&1; rc=$?
  stop_server
}
. "$(dirname "$0")/lib/loopback.sh"
mail_host=$(own_loopback) || fail "no loopback address of its own"
trap 'chmod 700 "$root/noperm/src/shut" 2>/dev/null; stop_server; cleanup' EXIT
table+=(
  "accent134|2|accent134|The backup's path is too long for Windows: $win\\accent134\\dest\\é|Operation aborted|"
  "cjk|0|*~$(name_hash "$(cjk_name 乙)")|Archive: $win\\cjk\\dest\\X_1.zip|The report could not be saved as *$(cjk_name 乙).log. The report has been saved as *~$(name_hash "$(cjk_name 乙)").log|X.zip X_1.zip"
  "login|0|login|Backup done|SMTP Error: 535 5.7.8 Authentication credentials invalid|X.zip"
)

for row in "${table[@]}"; do
  IFS='|' read -r case want report line last files <<<"$row"
  [[ $case == ${1:-*} ]] || continue
  mkdir -p "$root/$case/dest"
  program_folder "$root/$case/prog" "$([ "$case" = german ] && echo "Lang=$win\\lang\\Deutsch.lang")"
  setup "$case" "$root/$case/$case.xml"
  start=$(date +%s)
  run_case "$case"
  log=$(compgen -G "$root/$case/prog/temp/$report.log" | head -n 1)
  [ -f "$log" ] || fail "$case: no report $report.log; temp holds: $(ls "$root/$case/prog/temp" 2>&1)"
  [ "$rc" -eq "$want" ] || fail "$case: exit code $rc, want $want; report ends: $(tail -n 4 "$log")"
  # A line given as =text is a whole line of the report.
  if [[ $line == =* ]]; then tr -d '\r' < "$log" | grep -qxF -- "${line#=}"; else grep -qF -- "$line" "$log"; fi || fail "$case: the report lacks \"$line\"; it ends: $(tail -n 4 "$log" | cut -c 1-300)"
  [[ "$(tail -n 1 "$log" | tr -d '\r')" == $last ]] || fail "$case: the report ends \"$(tail -n 1 "$log" | cut -c 1-200)\", want \"$last\""
  got=$(ls "$root/$case/dest" | tr '\n' ' ' | sed 's/ $//')
  [ "$got" = "$files" ] || fail "$case: the destination holds \"$got\", want \"$files\""
  for f in $files; do peers_ok "$root/$case/dest/$f"; done
  [ -n "${entries[$case]+set}" ] && entries_ok "$case"
  echo "$case: exit $rc, $(( $(date +%s) - start )) s: ok"
done
# The second run's report says so first; the first run kept its own report.
[[ twice == ${1:-*} ]] || { echo "$e2e_name: passed (rows $1)"; exit 0; }
head -n 1 "$root/twice/prog/temp/twice_1.log" | grep -qF "Another run" || fail "twice: the second report does not say so first"
grep -qx "Backup done" <(tr -d '\r' < "$root/twice/prog/temp/twice.log") || fail "twice: the first run's report is not its own"
grep -qF "Another run" "$root/twice/prog/temp/twice.log" && fail "twice: the first run's report was overwritten"
echo "$e2e_name: passed"
