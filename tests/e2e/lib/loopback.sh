# Sourced by the scripts whose servers listen on the mail's fixed port 25:
# own_loopback prints a loopback address of this run's own (any 127.x.y.z
# reaches this machine), so that two runs on one machine never reach each
# other's servers. The candidates follow from the script's process id, and
# one is taken only when port 25 on it is free.
own_loopback() {
  /usr/bin/python3 - "$$" <<'PYEOF'
import socket, sys
pid = int(sys.argv[1])
for i in range(64):
    n = (pid * 2654435761 + i * 40503) % (254 ** 3)
    addr = "127.%d.%d.%d" % (n // 254 ** 2 + 1, n // 254 % 254 + 1, n % 254 + 1)
    if addr == "127.0.0.1":
        continue
    s = socket.socket()
    try:
        s.bind((addr, 25))
    except OSError:
        continue
    finally:
        s.close()
    print(addr)
    break
else:
    sys.exit("no free loopback address for port 25")
PYEOF
}
