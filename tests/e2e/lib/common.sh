# Sourced by the end-to-end scripts (and benchmarks) after setting `e2e_name`:
# runs from the repository root with the Wine prefix ready, and gives them fail
# (which also ends the program started as $pid, if any), ok, wait_bound (the
# bound of every wait), wait_window, need_program_and_mail_peer, stop_server
# (ends a peer started as $server_pid), session_file and dirs_xml (session
# files), program_folder (a program folder of a test's own),
# hold_open/release_held (a file another program holds), and peers_ok (the
# zip peers' verdict).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
cd "$here"
. scripts/wine-env >/dev/null 2>&1
PY=/usr/bin/python3
# How long (in seconds) the scripts wait at most for a window, a peer or a
# program's state: only against a hang, long enough for a machine that runs
# several suites at once.
wait_bound=300
fail() { echo "$e2e_name: FAILED: $*"; [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null; rm -f "${held_marker:-}"; exit 1; }
ok() { echo "$1: ok"; }
# Stops the script at once when the built program or the mail server is missing.
need_program_and_mail_peer() {
  $PY -c "import aiosmtpd" 2>/dev/null || { echo "$e2e_name: python3-aiosmtpd is not installed (run scripts/setup)"; exit 1; }
  [ -f build/dist/korvane.exe ] || { echo "$e2e_name: build/dist/korvane.exe missing (run scripts/build)"; exit 1; }
}
# Waits (bounded) until the peer started as $server_pid has written "ready"
# to its log; fails with what it said otherwise.
wait_server_ready() {   # log-file output-file what
  for _ in $(seq $((wait_bound * 10))); do
    grep -q ready "$1" && return 0
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$2"; fail "$3 did not start (is its port taken?)"
}
# Ends the peer server started as $server_pid (bounded), if any.
stop_server() {
  [ -n "${server_pid:-}" ] || return 0
  kill "$server_pid" 2>/dev/null
  timeout 10 tail --pid="$server_pid" -f /dev/null 2>/dev/null || kill -9 "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=
}
# Waits (bounded) until a window with this caption shows; fails when the
# program started as $pid ends first.
wait_window() {   # caption
  local _
  for _ in $(seq 1 $((wait_bound * 2))); do
    xwininfo -root -tree 2>/dev/null | grep -q "\"$1\"" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the program exited before showing \"$1\""
    sleep 0.5
  done
  fail "no window titled \"$1\" within $wait_bound s"
}

# A program folder of a test's own: korvane.exe (or $KORVANE_EXE, an older
# build to compare with), and settings that keep every
# line in the report, plus any further settings lines given.
program_folder() {   # folder [setting ...]
  mkdir -p "$1" && cp "${KORVANE_EXE:-build/dist/korvane.exe}" "$1/" || fail "could not make the program folder $1"
  local dir=$1; shift
  { printf '[KRV]\r\nLogLevel=3\r\n'; local s; for s in "$@"; do printf '%s\r\n' "$s"; done; } > "$dir/Korvane.ini"
}

# A session file as the program writes them. The values come from variables,
# each with a default: S_NAME, S_ARCHIVE, S_TYPE (1 hard disk, 0 disc),
# S_DEST, S_DEVICE, S_OVERWRITE, S_SUBFOLDERS, S_FILTERS, S_INCLUDE,
# S_EXCLUDE, S_MAIL, S_ADDRESS, S_SMTP and S_DIRS (the <dir> elements).
session_file() {   # file
  cat > "$1" <<XEOF
<?xml version="1.0" encoding="ISO-8859-1"?>
<Korvane ver="0.9.1">
<SessionName value="${S_NAME:-e2e}"/><ArchiveName value="${S_ARCHIVE:-X.zip}"/>
<GenericOptions><SubFolders value="${S_SUBFOLDERS:-True}"/><CloseKRV value="False"/><RWDisk value="True"/><Device value="${S_DEVICE:--1}"/><DirHD value="${S_DEST:-}"/><OverwriteHD value="${S_OVERWRITE:-False}"/><Type value="${S_TYPE:-1}"/><Creation value="12/6/2026 12:00:00 PM"/><LastSave value="12/6/2026 12:00:00 PM"/><LastBackup value="12:00:00 AM"/></GenericOptions>
<MailOptions><Active value="${S_MAIL:-False}"/><Address value="${S_ADDRESS:-}"/><SMTP value="${S_SMTP:-}"/><DoLogin value="False"/><UserName value=""/><Password value=""/><Log value="3"/></MailOptions>
<Filters><Active value="${S_FILTERS:-False}"/><InclusionMask value="${S_INCLUDE:-}"/><ExclusionMask value="${S_EXCLUDE:-}"/></Filters>
<SelectedDirectories>${S_DIRS:-}</SelectedDirectories>
</Korvane>
XEOF
}
# Holds a file open without sharing (or, with "shared", open for writing and
# sharing read and write, as an editor may), from another Win32 process,
# until release_held or fail.
hold_open() {   # windows-path [shared]
  held_marker="$WINEPREFIX/drive_c/krv-held-$$"; rm -f "$held_marker"
  wine build/dist/zipdrive.exe "--hold${2:+-$2}" "$1" "C:\\krv-held-$$" >/dev/null 2>&1 & holder=$!
  for _ in $(seq 1 $((wait_bound * 4))); do [ -f "$held_marker" ] && return 0; sleep 0.25; done
  kill $holder; fail "the file holder did not start"
}
release_held() { rm -f "$held_marker"; wait "$holder"; }
# The <dir> elements of a session for these folders.
dirs_xml() { local d; for d in "$@"; do printf '<dir value="%s"/>' "$d"; done; }

# unzip -t, 7z t and Python's zipfile must all accept the archive.
peers_ok() {   # archive
  local log
  log=$(mktemp)
  unzip -tq "$1" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; fail "unzip -t $1"; }
  7z t "$1" >"$log" 2>&1 || { cat "$log"; rm -f "$log"; fail "7z t $1"; }
  rm -f "$log"
  $PY - "$1" <<'PYEOF' || fail "python zipfile $1"
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    bad = z.testzip()
    if bad: sys.exit("bad entry " + bad)
PYEOF
}
