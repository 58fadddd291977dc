#!/usr/bin/env bash
# How an unattended run ends when its report or its mail meets trouble: a
# session named like a device or too long for a file name, a temp folder that
# cannot take the report, a session file that cannot be written back, a date
# this computer cannot read, and a mail server that refuses or stalls. Each
# case runs `korvane.exe session.xml` under Wine with a time limit and checks
# the exit code, a line of the report and where the report went. The stalling
# server is Debian's aiosmtpd on port 25 (the mail's fixed port) of a
# loopback address of this run's own, which answers HELO with continuation
# lines for ever; nothing listens there for the refused case. The mail's
# deadline is cut to 3 s for the test (KORVANE_TEST_MAIL_DEADLINE).
set -uo pipefail
e2e_name=endings_report
. "$(dirname "$0")/lib/common.sh"
need_program_and_mail_peer
. "$(dirname "$0")/lib/loopback.sh"
mail_host=$(own_loopback) || fail "no loopback address of its own"

name="krv-e2e-endings-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
server_pid=
trap 'stop_server; mountpoint -q "$root/readonly/ro" && umount "$root/readonly/ro"; rm -rf "$root"; find "$WINEPREFIX/drive_c/users" -name "$name*" -delete 2>/dev/null' EXIT

rm -rf "$root"
mkdir -p "$root/src/docs" "$root/dest"
printf 'first file\r\n' > "$root/src/docs/a.txt"
dirs=$(dirs_xml "$win\\src\\docs")
long="$name-$(printf 'L%.0s' $(seq 300))"   # a session name of over 300 characters

# A program folder of its own per case: its temp folder, settings and reports.
prepare() {   # case
  local prog="$root/$1"
  rm -rf "$prog" && program_folder "$prog"
}

# Each case's own set-up, after prepare; it writes $root/<case>/job.xml.
setup_con() { S_NAME=CON S_DEST="$win\\dest" S_ARCHIVE=devcon.zip S_DIRS=$dirs session_file "$root/con/job.xml"; }
setup_nul() { S_NAME=nul.daily S_DEST="$win\\dest" S_ARCHIVE=devnul.zip S_DIRS=$dirs session_file "$root/nul/job.xml"; }
setup_long() { S_NAME=$long S_DEST="$win\\dest" S_ARCHIVE=long.zip S_DIRS=$dirs session_file "$root/long/job.xml"; }
setup_notemp() {
  # The program's temp folder is a file: nothing can be written in it.
  printf 'not a folder' > "$root/notemp/temp"
  S_NAME="$name-notemp" S_DEST="$win\\dest" S_ARCHIVE=notemp.zip S_DIRS=$dirs session_file "$root/notemp/job.xml"
}
setup_readonly() {
  # On a file system mounted read-only: Wine runs as root here, and root
  # writes through a file's read-only mark.
  mkdir -p "$root/readonly/ro"
  mount -t tmpfs -o size=256k tmpfs "$root/readonly/ro" || fail "readonly: cannot mount a tmpfs (needs root)"
  S_NAME=readonly S_DEST="$win\\dest" S_ARCHIVE=ro.zip S_DIRS=$dirs session_file "$root/readonly/ro/job.xml"
  sha256sum "$root/readonly/ro/job.xml" > "$root/readonly/job.sha"
  mount -o remount,ro "$root/readonly/ro" || fail "readonly: cannot remount read-only"
}
setup_date() {
  S_NAME=date S_DEST="$win\\dest" S_ARCHIVE=date.zip S_DIRS=$dirs session_file "$root/date/job.xml"
  # A date in a format this computer cannot read.
  sed -i 's|<LastBackup value="[^"]*"/>|<LastBackup value="32.13.2026 23:00"/>|' "$root/date/job.xml"
}
mail_session() {   # case dirs
  S_NAME=$1 S_DEST="$win\\dest" S_ARCHIVE=$1.zip S_DIRS=$2 S_MAIL=True S_ADDRESS=admin@korvane.test S_SMTP=$mail_host \
    session_file "$root/$1/job.xml"
}
setup_refused() { mail_session refused "$dirs"; }
setup_stall() { mail_session stall "$dirs"; }
setup_stallfail() { mail_session stallfail ""; }   # nothing selected: the backup fails

# Where the report went: in the program's temp folder, or the user's.
report_of() {   # case place file-name
  case $2 in
    temp) ls -d "$root/$1/temp/"$3 2>/dev/null | head -n 1 ;;
    user) find "$WINEPREFIX/drive_c/users" -path '*Temp*' -name "$3" 2>/dev/null | head -n 1 ;;
  esac
}

start_stall_server() {
  local out="$root/mailout"
  mkdir -p "$out"
  local port
  port=$($PY -c 'import socket,sys; s=socket.socket(); s.bind((sys.argv[1],0)); print(s.getsockname()[1])' "$mail_host")
  $PY tests/smtppeer/smtp_server.py "$mail_host" "$port" u p "$out" 25 > "$root/server.log" 2>&1 &
  server_pid=$!
  wait_server_ready "$root/server.log" "$root/server.log" "the stalling mail server on $mail_host:25"
}

# case | exit code | where the report went | its file name | a line the report holds
table=(
  "con|0|temp|_CON.log|The report has been saved as C:\\$name\\con\\temp\\_CON.log"
  "nul|0|temp|_nul.daily.log|The report could not be saved as C:\\$name\\nul\\temp\\nul.daily.log."
  "long|0|temp|${long:0:100}*.log|The report could not be saved as C:\\$name\\long\\temp\\$long.log."
  "notemp|0|user|$name-notemp.log|The report has been saved as "
  "readonly|0|temp|readonly.log|The last backup time was not saved in the session file C:\\$name\\readonly\\ro\\job.xml: "
  "date|0|temp|date.log|A date in the session file cannot be read in this computer's date format and counts as none: LastBackup \"32.13.2026 23:00\""
  "refused|0|temp|refused.log|SMTP Socket Error: 10061 Connection refused"
  "stall|0|temp|stall.log|SMTP Error: the mail was given up, as it did not end within 3 s."
  "stallfail|2|temp|stallfail.log|SMTP Error: the mail was given up, as it did not end within 3 s."
)

for row in "${table[@]}"; do
  IFS='|' read -r case want place file line <<<"$row"
  prepare "$case"
  "setup_$case"
  [ "$case" = stall ] && start_stall_server
  start=$(date +%s)
  job="$win\\$case\\job.xml"
  [ "$case" = readonly ] && job="$win\\readonly\\ro\\job.xml"
  KORVANE_TEST_MAIL_DEADLINE=3 timeout "$wait_bound" wine "$win\\$case\\korvane.exe" "$job" >/dev/null 2>&1
  rc=$?
  [ $rc -eq 124 ] && fail "$case: the run did not end within $wait_bound s"
  report=$(report_of "$case" "$place" "$file")
  [ -n "$report" ] && [ -f "$report" ] || fail "$case: no report $place/$file; temp holds: $(ls "$root/$case/temp" 2>&1)"
  [ $rc -eq "$want" ] || fail "$case: exit code $rc, want $want; report ends: $(tail -n 5 "$report")"
  grep -qF -- "$line" "$report" || fail "$case: the report lacks \"$line\"; it ends: $(tail -n 6 "$report")"
  grep -qF "Backup done" "$report" || [ "$want" -ne 0 ] || fail "$case: the backup did not end done: $(tail -n 6 "$report")"
  echo "$case: exit $rc, report in $place ($(basename "$report")), $(( $(date +%s) - start )) s: ok"
done
stop_server

# The read-only session file is as it was; the stalling server heard only greetings.
sha256sum -c --quiet "$root/readonly/job.sha" || fail "readonly: the session file changed"
umount "$root/readonly/ro"
[ -z "$(ls "$root/mailout" 2>/dev/null)" ] || fail "stall: a message arrived: $(ls "$root/mailout")"
echo "$e2e_name: passed"
