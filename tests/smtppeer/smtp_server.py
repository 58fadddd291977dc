# A real mail server for the mail tests: Debian's aiosmtpd on a loopback
# address (the run's own, so that the fixed port 25 is free there) with
# logins by PLAIN, LOGIN and CRAM-MD5 for one user. Every message is saved as
# <out>/<n>.eml (the content as received, dot-stuffing undone) with
# <out>/<n>.json (envelope sender, recipients, the login used).
# With STALLPORT, one more server there greets and then never finishes its
# answer to HELO or EHLO: a continuation line ("250-") every half second, as
# a server that keeps a client waiting for ever.
# Usage: smtp_server.py HOST PORT[,PORT...] USER PASSWORD OUTDIR [STALLPORT] (one server per port)
import asyncio, hashlib, hmac, json, os, secrets, signal, sys, threading
from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword, MISSING

host = sys.argv[1]
ports, user, password, outdir = [int(p) for p in sys.argv[2].split(",")], sys.argv[3], sys.argv[4], sys.argv[5]
stall_port = int(sys.argv[6]) if len(sys.argv) > 6 else None


class StallingSMTP(SMTP):
    async def _stall(self):
        while True:   # ends when the client goes away
            await self.push("250-still working on it")
            await asyncio.sleep(0.5)

    async def smtp_HELO(self, hostname):
        await self._stall()

    async def smtp_EHLO(self, hostname):
        await self._stall()


class StallingController(Controller):
    def factory(self):
        return StallingSMTP(self.handler, **self.SMTP_kwargs)


class Handler:
    count = 0

    async def handle_DATA(self, server, session, envelope):
        Handler.count += 1
        base = os.path.join(outdir, str(Handler.count))
        with open(base + ".eml", "wb") as f:
            f.write(envelope.original_content)
        login = getattr(session.auth_data, "login", None)
        login = login.decode() if login else None
        with open(base + ".json", "w") as f:
            json.dump({"from": envelope.mail_from, "to": envelope.rcpt_tos, "login": login}, f)
        return "250 Message accepted for delivery"

    async def auth_CRAM__MD5(self, server, args):
        challenge = ("<%s@korvane.test>" % secrets.token_hex(8)).encode()
        answer = await server.challenge_auth(challenge)
        if answer is MISSING:
            return AuthResult(success=False, handled=True)   # the server already answered 501
        name, _, digest = answer.decode(errors="replace").partition(" ")
        expected = hmac.new(password.encode(), challenge, hashlib.md5).hexdigest()
        if name == user and hmac.compare_digest(digest, expected):
            return AuthResult(success=True, auth_data=LoginPassword(name.encode(), b""))
        # handled=False: the server sends 535 itself, so the client hears an answer.
        return AuthResult(success=False, handled=False)


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == user.encode()
          and auth_data.password == password.encode())
    return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)


controllers = [Controller(Handler(), hostname=host, port=p, authenticator=authenticator,
                          auth_require_tls=False) for p in ports]
if stall_port:
    controllers.append(StallingController(Handler(), hostname=host, port=stall_port))
for c in controllers:
    c.start()
stop = threading.Event()
signal.signal(signal.SIGTERM, lambda *a: stop.set())
signal.signal(signal.SIGINT, lambda *a: stop.set())
print("ready", flush=True)
stop.wait()
for c in controllers:
    c.stop()
