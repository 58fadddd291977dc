#!/usr/bin/env bash
# Unattended runs that mail their report, end to end: `korvane.exe <session>`
# under Wine with a real mail server (Debian's aiosmtpd) on port 25, the
# report mail's fixed port, of a loopback address of this run's own. A good run's mail arrives with its subject, banner,
# report lines and footer, and the program exits 0 only after the server has
# answered QUIT (the server holds that answer back a moment, so a client that
# did not wait would have exited first); a failed run mails "Error!"; with no
# server listening the socket error is in the report file and the program
# still exits; a mail whose server name is never answered is given up at its
# time limit, and the program ends. The servers are stopped on every way out.
set -uo pipefail
e2e_name=mail_batch
. "$(dirname "$0")/lib/common.sh"
need_program_and_mail_peer
. "$(dirname "$0")/lib/loopback.sh"
mail_host=$(own_loopback) || { echo "mail_batch: no loopback address of its own"; exit 1; }

name="krv-e2e-mail-$$"
root="$WINEPREFIX/drive_c/$name"
win="C:\\$name"
server_pid=
trap 'stop_server; rm -rf "$root"' EXIT
fail() { echo "mail_batch: FAILED: $*"; [ -f "$root/server.log" ] && tail -n 20 "$root/server.log"; exit 1; }
ok() { echo "$1: ok"; }

rm -rf "$root"
mkdir -p "$root/dest" "$root/out" "$root/src/docs/sub" "$root/empty"
cp build/dist/korvane.exe "$root/"
printf 'first file\r\n' > "$root/src/docs/a.txt"
printf 'second file' > "$root/src/docs/sub/b.txt"

# The mail server: saves each message as <n>.eml and logs each QUIT with the
# time it was heard and the time its answer goes out (one second later).
cat > "$root/server.py" <<'PYEOF'
import asyncio, os, signal, sys, threading, time
from aiosmtpd.controller import Controller
out, log, host = sys.argv[1], open(sys.argv[2], "a", buffering=1), sys.argv[3]

class Handler:
    count = 0
    async def handle_DATA(self, server, session, envelope):
        Handler.count += 1
        with open(os.path.join(out, "%d.eml" % Handler.count), "wb") as f:
            f.write(envelope.original_content)
        log.write("DATA %d %s %s\n" % (Handler.count, envelope.mail_from, ",".join(envelope.rcpt_tos)))
        return "250 Message accepted for delivery"
    async def handle_QUIT(self, server, session, envelope):
        log.write("QUIT heard %.3f\n" % time.time())
        await asyncio.sleep(1.0)
        log.write("QUIT answered %.3f\n" % time.time())
        return "221 Bye"

c = Controller(Handler(), hostname=host, port=25)
c.start()
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *a: stop.set())
signal.signal(signal.SIGINT, lambda *a: stop.set())
log.write("ready\n")
stop.wait()
c.stop()
PYEOF

start_server() {
  : > "$root/server.log"
  $PY "$root/server.py" "$root/out" "$root/server.log" "$mail_host" >>"$root/server.err" 2>&1 &
  server_pid=$!
  wait_server_ready "$root/server.log" "$root/server.err" "the mail server on $mail_host:25"
}

session() {   # file sessionName archive dest dirs(xml)
  S_NAME=$2 S_ARCHIVE=$3 S_DEST=$4 S_DIRS=$5 S_MAIL=True S_ADDRESS=admin@korvane.test S_SMTP=$mail_host session_file "$1"
}

run() {   # session file (Windows path) [exit code [archive name]]; must end by itself with that code (0)
  timeout 240 wine "$win\\korvane.exe" "$1" ${3:+"$3"} >/dev/null 2>&1
  local rc=$?
  ended=$(date +%s.%N)
  [ $rc -eq 124 ] && fail "the run of $1 did not end within 240 s"
  [ $rc -eq "${2:-0}" ] || fail "the run of $1 exited with $rc, not ${2:-0}"
}

# The one saved message: subject, sender/recipient and body, line by line.
check_mail() {   # eml subject status-line report-line...
  $PY - "$@" <<'PYEOF' || fail "the mail in $1"
import email, email.policy, sys
path, subject, status, want = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4:]
msg = email.message_from_binary_file(open(path, "rb"), policy=email.policy.default)
if msg["Subject"] != subject: sys.exit("subject %r, want %r" % (msg["Subject"], subject))
if "admin@korvane.test" not in (msg["To"] or ""): sys.exit("To: %r" % msg["To"])
body = msg.get_body(preferencelist=("plain",)).get_content()
lines = body.replace("\r\n", "\n").split("\n")
if lines[0].strip() != "-== Korvane 0.9.1 ==-": sys.exit("banner %r" % lines[0])
if not lines[1].strip(): sys.exit("no date under the banner")
if status not in lines: sys.exit("status line %r missing in %r" % (status, lines))
pos = lines.index(status)
ruler = "=" * 57
if ruler not in lines[pos:]: sys.exit("no ruler before the report lines")
pos = lines.index(ruler, pos) + 1
for w in want:
    while pos < len(lines) and w not in lines[pos]: pos += 1
    if pos == len(lines): sys.exit("report line %r missing or out of order in %r" % (w, lines))
    pos += 1
tail = [l for l in lines if l.strip()][-3:]
if tail != [ruler, "Mail report done with Korvane 0.9.1.",
            "View https://korvane.example/ for more details."]:
    sys.exit("footer %r" % tail)
PYEOF
}

dirs=$(dirs_xml "$win\\src\\docs")

# 1. A good run: the mail arrives, and the program ends after QUIT's answer.
start_server
session "$root/good.xml" "Mail e2e" "M.zip" "$win\\dest" "$dirs"
run "$win\\good.xml"
[ -f "$root/dest/M.zip" ] || fail "no archive"
unzip -tq "$root/dest/M.zip" >/dev/null || fail "unzip -t M.zip"
[ "$(ls "$root/out"/*.eml 2>/dev/null | wc -l)" -eq 1 ] || fail "want one message, got: $(ls "$root/out")"
grep -q "^DATA 1 .* admin@korvane.test$" "$root/server.log" || fail "envelope"
check_mail "$root/out/1.eml" "[Mail e2e] Korvane Mail Notification: Backup Saved." \
  "The backup has been correctly saved." "Backup started at " "Zip file created [" \
  "The backup zip file has been created in the selected folder: $win\\dest"
answered=$(sed -n 's/^QUIT answered //p' "$root/server.log" | tail -n 1)
[ -n "$answered" ] || fail "the program exited before the server had answered QUIT"
$PY -c "import sys; sys.exit(0 if float(sys.argv[1]) < float(sys.argv[2]) else 1)" "$answered" "$ended" \
  || fail "the program ended ($ended) before QUIT was answered ($answered)"
ok "good run: mail with subject, banner, report lines and footer; exit 0 after QUIT's answer"

# 2. A failed run (nothing selected): the mail says Error!
rm -f "$root/out"/*
session "$root/bad.xml" "Mail e2e bad" "B.zip" "$win\\dest" ""
run "$win\\bad.xml" 2   # the run failed
[ -f "$root/dest/B.zip" ] && fail "a failed run left an archive"
eml=$(ls "$root/out"/*.eml 2>/dev/null)
[ "$(echo "$eml" | grep -c .)" -eq 1 ] || fail "want one mail after the failed run, got: $(ls "$root/out")"
check_mail "$eml" "[Mail e2e bad] Korvane Mail Notification: Error!" \
  "The backup has been stopped due to an error." "no folder is selected" "Operation aborted"
[ "$(grep -c "^QUIT answered" "$root/server.log")" -eq 2 ] || fail "no QUIT after the failed run's mail"
ok "failed run: Error! mail"

# 2b. A command line that cannot be used (a refused archive name): no box, exit
#     3, and the mail the session asks for says why.
rm -f "$root/out"/*
run "$win\\good.xml" 3 "..\\elsewhere"
eml=$(ls "$root/out"/*.eml 2>/dev/null)
[ "$(echo "$eml" | grep -c .)" -eq 1 ] || fail "want one mail after the refused name, got: $(ls "$root/out")"
check_mail "$eml" "[Mail e2e] Korvane Mail Notification: Error!" \
  "The backup has been stopped due to an error." "There is a wrong character in the backup's file name." \
  "Operation aborted"
[ -f "$root/dest/elsewhere.zip" ] || [ -f "$root/elsewhere.zip" ] && fail "a refused name was written"
ok "refused archive name: exit 3, Error! mail"
stop_server

# 3. No server listening: the socket error is logged, and the program still exits.
session "$root/none.xml" "Mail e2e none" "N.zip" "$win\\dest" "$dirs"
run "$win\\none.xml"
[ -f "$root/dest/N.zip" ] || fail "no archive without a mail server"
report="$root/temp/Mail e2e none.log"
[ -f "$report" ] || fail "no report file: $(ls "$root/temp" 2>/dev/null)"
grep -q "SMTP Socket Error: " "$report" || fail "no socket error in the report: $(cat "$report")"
ok "no server: socket error in the report, exit 0"

# 4. A name server of the run's own that never answers (the program alone is
#    pointed at it, through a mount namespace): the mail's time limit gives the lookup up.
unshare -m true || fail "a mount namespace of its own (unshare -m, as root) is needed for this case"
: > "$root/dns.log"
$PY -c "import socket, sys; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind((sys.argv[1], 53)); log = open(sys.argv[2], 'a', buffering=1); log.write('ready\n'); [log.write('question\n') for _ in iter(lambda: s.recvfrom(4096), None)]" \
  "$mail_host" "$root/dns.log" >"$root/dns.err" 2>&1 &
server_pid=$!
wait_server_ready "$root/dns.log" "$root/dns.err" "the name server on $mail_host:53"
printf 'nameserver %s\noptions timeout:30 attempts:1\n' "$mail_host" > "$root/resolv.conf"
S_SMTP=mail.korvane.test S_ADDRESS=admin@korvane.test S_NAME="Mail e2e silent" S_DEST="$win\\dest" S_DIRS="$dirs" S_MAIL=True \
  session_file "$root/silent.xml"
KORVANE_TEST_MAIL_DEADLINE=2 timeout "$wait_bound" unshare -m sh -c 'mount --bind "$0" /etc/resolv.conf && exec "$@"' \
  "$root/resolv.conf" wine "$win\\korvane.exe" "$win\\silent.xml" >/dev/null 2>&1
[ $? -eq 0 ] || fail "the run whose mail lookup was given up did not end with 0 within $wait_bound s"
grep -q question "$root/dns.log" || fail "the program's lookup never reached the silent name server"
grep -q "SMTP Error: .* 2 s" "$root/temp/Mail e2e silent.log" || fail "the given-up mail is not in the report"
stop_server
ok "lookup never answered: the mail is given up after its time limit and the program ends"

echo "mail_batch: passed"
