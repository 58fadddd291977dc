#!/usr/bin/env bash
# Runs the mail tests against a real mail server (Debian's aiosmtpd) on a
# loopback address of this run's own: one on a free port for the library
# tests, one on port 25, the report mail's fixed port, and one that stalls
# with continuation lines. Then
# checks with Python's email parser that every attachment arrived byte for byte. Servers are stopped on exit.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
. scripts/wine-env
exe=build/tests/test_smtp_peers.exe
[ -f "$exe" ] || { echo "smtp_peers: $exe missing (run scripts/build)"; exit 1; }
/usr/bin/python3 -c "import aiosmtpd" 2>/dev/null || { echo "smtp_peers: python3-aiosmtpd is not installed (run scripts/setup)"; exit 1; }

work=$(mktemp -d)
mkdir -p "$work/out"
server_pid=
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT

. tests/e2e/lib/loopback.sh
host=$(own_loopback) || exit 1
free_port() { /usr/bin/python3 -c 'import socket,sys; s=socket.socket(); s.bind((sys.argv[1],0)); print(s.getsockname()[1])' "$host"; }
port=$(free_port)
stall_port=$(free_port)
user=korvane
pass=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
/usr/bin/python3 tests/smtppeer/smtp_server.py "$host" "$port,25" "$user" "$pass" "$work/out" "$stall_port" >"$work/server.log" 2>&1 &
server_pid=$!

# The server prints "ready" once both ports listen (bounded only against a
# hang: a busy machine starts it late).
for i in $(seq 3000); do
  grep -q ready "$work/server.log" && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q ready "$work/server.log"; then
  echo "smtp_peers: mail servers on $host did not start (is port 25 taken?)"; cat "$work/server.log"; exit 1
fi

export KRV_SMTP_HOST=$host KRV_SMTP_PORT=$port KRV_SMTP_STALL_PORT=$stall_port KRV_SMTP_USER=$user KRV_SMTP_PASS=$pass
export KRV_SMTP_OUT="Z:$(echo "$work/out" | tr / '\\')"
export WINEDEBUG=-all
# A crashed program may exit with 0 under Wine: gtest's own verdict decides.
timeout 600 wine "$exe" --gtest_color=no | tee "$work/gtest.out"
status=${PIPESTATUS[0]}
if [ $status -eq 0 ] && { ! grep -q '^\[  PASSED  \]' "$work/gtest.out" || grep -q '^\[  FAILED  \]' "$work/gtest.out"; }; then
  status=1
fi

# The attachments, decoded by Python's own mail parser, against the files sent.
if ! /usr/bin/python3 - "$work/out" <<'PY'
import email, email.policy, glob, os, sys
out = sys.argv[1]
for path in glob.glob(os.path.join(out, "*.eml")):
    msg = email.message_from_binary_file(open(path, "rb"), policy=email.policy.default)
    if msg["Subject"] != "attachments":
        continue
    assert msg.get_content_type() == "multipart/mixed", msg.get_content_type()
    parts = [p for p in msg.iter_attachments()]
    names = [p.get_filename() for p in parts]
    assert names == ["data.bin", "empty.txt", "dots.txt"], names
    for p in parts:
        want = open(os.path.join(out, "att", p.get_filename()), "rb").read()
        got = p.get_payload(decode=True)
        assert got == want, "%s: %d bytes arrived, %d sent" % (p.get_filename(), len(got), len(want))
    text = msg.get_body(preferencelist=("plain",)).get_content()
    assert text.strip() == "Three files.", repr(text)
    print("smtp_peers: %d attachments arrived byte-exact" % len(parts))
    break
else:
    sys.exit("smtp_peers: no message with attachments arrived")
PY
then
  status=1
fi
if [ $status -ne 0 ]; then
  echo "smtp_peers: failed ($status); server logs:"; tail -n 30 "$work/server.log"
fi
exit $status
