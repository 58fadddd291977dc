#!/usr/bin/env bash
# Runs the socket tests against real peers on 127.0.0.1: a Python echo
# server, dante's SOCKS 4/5 server and microsocks with a user and password.
# Every peer is started here on a free port and stopped on exit.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
cd "$here"
. scripts/wine-env
exe=build/tests/test_net_peers.exe
[ -f "$exe" ] || { echo "net_peers: $exe missing (run scripts/build)"; exit 1; }
for tool in /usr/bin/python3 danted microsocks; do
  command -v "$tool" >/dev/null || { echo "net_peers: $tool is not installed (run scripts/setup)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Free ports; for the refusal case, a loopback address of this run's own on
# which nothing listens (another run's server cannot answer there).
read -r echo_port socks_port auth_port < <(/usr/bin/python3 - <<'PY'
import socket
socks = [socket.socket() for _ in range(3)]
for s in socks: s.bind(("127.0.0.1", 0))
print(*[s.getsockname()[1] for s in socks])
PY
)
. tests/e2e/lib/loopback.sh
closed_host=$(own_loopback) || { echo "net_peers: no loopback address of its own"; exit 1; }

# Echo server: echoes everything; hangs up after a line "QUIT".
/usr/bin/python3 - "$echo_port" >"$work/echo.log" 2>&1 <<'PY' &
import socket, sys, threading
srv = socket.socket(); srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
srv.bind(("127.0.0.1", int(sys.argv[1]))); srv.listen(16)
def serve(c):
    with c:
        while True:
            d = c.recv(65536)
            if not d: return
            if d.endswith(b"QUIT\n"):
                c.sendall(d[:-5]); return
            c.sendall(d)
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
PY
pids+=($!)

cat >"$work/danted.conf" <<CONF
logoutput: $work/danted.log
internal: 127.0.0.1 port = $socks_port
external: 127.0.0.1
clientmethod: none
socksmethod: none
user.privileged: root
user.unprivileged: nobody
client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }
socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 protocol: tcp }
socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }
CONF
danted -f "$work/danted.conf" -p "$work/danted.pid" -N 1 >"$work/danted.out" 2>&1 &
pids+=($!)

auth_user=korvane
auth_pass=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
microsocks -i 127.0.0.1 -p "$auth_port" -u "$auth_user" -P "$auth_pass" >"$work/microsocks.log" 2>&1 &
pids+=($!)

# Wait (bounded only against a hang) until all three listen.
if ! /usr/bin/python3 - "$echo_port" "$socks_port" "$auth_port" <<'PY'
import socket, sys, time
end = time.time() + 300
for p in map(int, sys.argv[1:]):
    while True:
        try:
            socket.create_connection(("127.0.0.1", p), timeout=1).close(); break
        except OSError:
            if time.time() > end: sys.exit("peer on port %d did not start" % p)
            time.sleep(0.1)
PY
then
  echo "net_peers: peers did not start"; cat "$work"/*.log "$work"/*.out 2>/dev/null; exit 1
fi

export KRV_CLOSED_HOST=$closed_host KRV_ECHO_PORT=$echo_port KRV_SOCKS_PORT=$socks_port KRV_AUTH_SOCKS_PORT=$auth_port
export KRV_AUTH_SOCKS_USER=$auth_user KRV_AUTH_SOCKS_PASS=$auth_pass
export WINEDEBUG=-all
# A crashed program may exit with 0 under Wine: gtest's own verdict decides.
timeout 600 wine "$exe" --gtest_color=no | tee "$work/gtest.out"
status=${PIPESTATUS[0]}
if [ $status -eq 0 ] && { ! grep -q '^\[  PASSED  \]' "$work/gtest.out" || grep -q '^\[  FAILED  \]' "$work/gtest.out"; }; then
  status=1
fi
if [ $status -ne 0 ]; then
  echo "net_peers: failed ($status); proxy logs:"; tail -n 30 "$work"/danted.log "$work"/microsocks.log 2>/dev/null
fi
exit $status
