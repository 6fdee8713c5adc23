#!/usr/bin/env python3
"""SMTP servers for the delivery tests, on 127.0.0.1 (or --host, such as ::1)
at a free port.

  smtp_server.py aiosmtpd --record FILE [--user U --password P] [--mechanisms M,...]
  smtp_server.py raw --record FILE [--user U --password P] [--mechanisms M,...]
                 [--fault STEP=ACTION ...] [--lifetime S]

Both print "PORT n" on standard output once listening and stop after
--lifetime seconds (default 60) or when standard input closes. Each message
received is appended to the record file as one JSON line: mail_from,
rcpt_tos, data (base64 of the bytes as received), auth (the mechanism that
succeeded, or null), login, and from aiosmtpd ehlo (the client's EHLO
argument).

"aiosmtpd" is the real server (Debian's python3-aiosmtpd) with AUTH LOGIN,
PLAIN and a CRAM-MD5 mechanism of ours. "raw" is a small server of our own
that speaks byte by byte so faults can be put anywhere:
  STEP   greeting ehlo auth auth1 auth2 mail rcpt data end helo
  ACTION a reply code (e.g. 554), "close", "stall" (say nothing), and for
         some steps: ehlo=endless (endless "250-" lines), greeting=nocrlf
         (100 MB without a line end), any=barelf (replies end in LF only),
         data=stopreading, data=closeduring, data=resetduring (a TCP reset
         after the first bytes of the message), rcpt=251, rcpt=refuse1 (only
         the first RCPT refused).
--port N listens on port N instead of a free one (25 inside a network
namespace of the test's own).

TLS, with --cert FILE --key FILE (PEM): "aiosmtpd --tls starttls" offers
STARTTLS and AUTH only after it; "aiosmtpd --tls implicit" runs TLS from the
first byte. The raw server offers STARTTLS when given a certificate, with
the mechanisms of --mechanisms-before-tls (default: none) before it, and
takes the faults starttls=glued (a second reply in the same write as the
220), starttls=close (closes after the client's first handshake bytes),
starttls=stall (says nothing after the 220), starttls=garbage (answers the
handshake with bytes that are not TLS) and starttls=CODE. Each record then
also tells "tls": whether the message came over TLS.
The raw server also does AUTH NTLM (verifying the NTLMv2 response with
ntlm_verify.py beside this file) when NTLM is among the mechanisms.
"""
import argparse
import base64
import hashlib
import hmac
import json
import os
import socket
import ssl
import struct
import sys
import threading
import logging
import time


def record(path, entry):
    with open(path, "a", encoding="utf-8") as f:
        f.write(json.dumps(entry) + "\n")


def watch_stdin_and_lifetime(lifetime, stop):
    def reader():
        try:
            sys.stdin.read()
        except Exception:
            pass
        stop()

    threading.Thread(target=reader, daemon=True).start()
    timer = threading.Timer(lifetime, stop)
    timer.daemon = True
    timer.start()


# ---------------------------------------------------------------- aiosmtpd

def run_aiosmtpd(args):
    # The server's own notes on its API are no news to the tests.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult, LoginPassword

    user = (args.user or "").encode()
    password = (args.password or "").encode()
    mechanisms = set(m.upper() for m in args.mechanisms.split(",") if m)

    class Handler:
        def __init__(self):
            self.auth = {}

        async def auth_CRAM__MD5(self, server, cmd_args):
            challenge = ("<%d.%d@127.0.0.1>" % (os.getpid(), time.time_ns())).encode()
            reply = await server.challenge_auth(challenge)
            if not isinstance(reply, bytes) or b" " not in reply:
                return AuthResult(success=False)
            login, digest = reply.rsplit(b" ", 1)
            good = hmac.new(password, challenge, hashlib.md5).hexdigest().encode()
            ok = login == user and hmac.compare_digest(digest, good)
            if ok:
                self.auth[server.session.peer] = ("CRAM-MD5", login.decode())
            return AuthResult(success=ok, auth_data=login)

        async def handle_DATA(self, server, session, envelope):
            mech, login = self.auth.get(session.peer, (None, None))
            if session.authenticated and mech is None:
                mech, login = session.auth_data_mechanism, session.auth_data_login
            record(args.record, {
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                "data": base64.b64encode(envelope.original_content or envelope.content).decode(),
                "auth": mech,
                "login": login,
                "tls": server.transport.get_extra_info("ssl_object") is not None,
                "ehlo": session.host_name,
            })
            return "250 OK"


    handler = Handler()

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == user and auth_data.password == password
        if ok:
            session.auth_data_mechanism = mechanism
            session.auth_data_login = auth_data.login.decode()
        return AuthResult(success=ok)

    exclude = [m for m in ("LOGIN", "PLAIN", "CRAM-MD5") if m not in mechanisms]
    port = args.port
    if port == 0:
        sock = socket.socket(family(args.host))
        sock.bind((args.host, 0))
        port = sock.getsockname()[1]
        sock.close()
    tls = {}
    if args.tls != "none":
        # Handshakes the tests make fail on purpose are logged as errors.
        logging.getLogger("mail.log").setLevel(logging.CRITICAL)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        # STARTTLS: AUTH is offered only once the session is protected.
        tls = {"tls_context": context, "auth_require_tls": True} if args.tls == "starttls" else {
            "ssl_context": context, "auth_require_tls": False}
    else:
        tls = {"auth_require_tls": False}
    controller = Controller(handler, hostname=args.host, port=port, authenticator=authenticator,
                            auth_exclude_mechanism=exclude, **tls)
    controller.start()
    print("PORT %d" % port, flush=True)
    done = threading.Event()
    watch_stdin_and_lifetime(args.lifetime, done.set)
    done.wait()
    controller.stop()


# ---------------------------------------------------------------- raw server

class RawSession:
    def __init__(self, conn, args):
        self.conn = conn
        self.args = args
        self.faults = dict(f.split("=", 1) for f in args.fault)
        self.eol = b"\n" if "barelf" in self.faults.values() else b"\r\n"
        self.buf = b""
        self.auth = None
        self.login = None
        self.mail_from = None
        self.rcpts = []
        self.rcpt_count = 0
        self.tls = False

    def send(self, text):
        self.conn.sendall(text.encode() + self.eol)

    def readline(self, limit=1 << 20):
        while b"\n" not in self.buf:
            chunk = self.conn.recv(65536)
            if not chunk:
                raise EOFError
            self.buf += chunk
            if len(self.buf) > limit:
                raise EOFError
        line, self.buf = self.buf.split(b"\n", 1)
        return line.rstrip(b"\r")

    def fault(self, step, normal):
        """Replies for the step as the fault says; False when the session ends."""
        action = self.faults.get(step)
        if action is None or action == "barelf":
            self.send(normal)
            return True
        if action == "close":
            self.conn.close()
            return False
        if action == "stall":
            time.sleep(self.args.lifetime)
            return False
        if action.isdigit():
            self.send("%s fault at %s" % (action, step))
            return action.startswith("2") or action.startswith("3")
        self.send(normal)
        return True

    def run(self):
        f = self.faults
        if f.get("greeting") == "nocrlf":
            block = b"2" * (1 << 20)
            try:
                for _ in range(100):
                    self.conn.sendall(block)
            except OSError:
                pass
            return
        if not self.fault("greeting", "220-127.0.0.1 raw test server\r\n220 ready"):
            return
        while True:
            line = self.readline()
            verb = line[:4].upper()
            if verb == b"EHLO":
                if f.get("ehlo") == "endless":
                    try:
                        while True:
                            self.conn.sendall(b"250-endless\r\n" * 1000)
                    except OSError:
                        return
                offer = self.args.mechanisms
                if self.args.cert and not self.tls:
                    offer = self.args.mechanisms_before_tls
                mechs = " ".join(m for m in offer.split(",") if m)
                lines = ["127.0.0.1", "AUTH %s" % mechs, "8BITMIME"] if mechs else ["127.0.0.1"]
                if self.args.cert and not self.tls:
                    lines.append("STARTTLS")
                text = "\r\n".join("250-" + l for l in lines[:-1]) + ("\r\n" if len(lines) > 1 else "")
                text += "250 " + lines[-1]
                if not self.fault("ehlo", text):
                    continue
            elif verb == b"STAR" and line.upper() == b"STARTTLS" and self.args.cert and not self.tls:
                if not self.start_tls():
                    return
            elif verb == b"HELO":
                if not self.fault("helo", "250 127.0.0.1"):
                    return
            elif verb == b"AUTH":
                if not self.do_auth(line.decode("latin-1").split()):
                    return
            elif verb == b"MAIL":
                self.mail_from = line[10:].decode("latin-1").strip("<>")
                self.rcpts = []
                if not self.fault("mail", "250 sender ok"):
                    return
            elif verb == b"RCPT":
                addr = line[8:].decode("latin-1").strip("<>")
                self.rcpt_count += 1
                if f.get("rcpt") == "251":
                    self.rcpts.append(addr)
                    self.send("251 user not local; will forward")
                elif f.get("rcpt") == "refuse1" and self.rcpt_count == 1:
                    self.send("550 no such user")
                elif f.get("rcpt", "").isdigit():
                    self.send("%s fault at rcpt" % f["rcpt"])
                else:
                    self.rcpts.append(addr)
                    self.send("250 recipient ok")
            elif verb == b"RSET":
                self.mail_from = None
                self.rcpts = []
                self.send("250 reset")
            elif verb == b"DATA":
                if not self.fault("data", "354 go ahead"):
                    return
                if f.get("data") == "stopreading":
                    time.sleep(self.args.lifetime)
                    return
                if f.get("data") == "closeduring":
                    self.conn.recv(1000)
                    self.conn.close()
                    return
                if f.get("data") == "resetduring":
                    self.conn.recv(1000)
                    # Linger with a zero time-out: close sends RST, not FIN.
                    self.conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.conn.close()
                    return
                data = self.read_data()
                record(self.args.record, {"mail_from": self.mail_from, "rcpt_tos": self.rcpts,
                                          "data": base64.b64encode(data).decode(), "auth": self.auth,
                                          "login": self.login, "tls": self.tls})
                if not self.fault("end", "250 queued"):
                    return
            elif verb == b"QUIT":
                self.send("221 bye")
                return
            else:
                self.send("500 unknown command")

    def start_tls(self):
        """STARTTLS as the fault says; False when the session ends."""
        action = self.faults.get("starttls")
        if action and action.isdigit():
            self.send("%s fault at starttls" % action)
            return True
        if action == "glued":
            self.conn.sendall(b"220 go ahead\r\n250 injected\r\n")
            time.sleep(1)
            return False
        self.send("220 go ahead")
        if action == "stall":
            time.sleep(self.args.lifetime)
            return False
        if action in ("close", "garbage"):
            self.conn.recv(100)
            if action == "garbage":
                self.conn.sendall(b"HTTP/1.0 400 Bad Request\r\n\r\n" + b"\x00" * 4000)
                time.sleep(1)
            return False
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.args.cert, self.args.key)
        self.conn = context.wrap_socket(self.conn, server_side=True)
        self.buf = b""
        self.tls = True
        # Everything said before TLS is forgotten on both sides.
        self.auth = self.login = self.mail_from = None
        self.rcpts = []
        return True

    def read_data(self):
        # Everything up to CR LF "." CR LF, as it came (dots still doubled).
        while b"\r\n.\r\n" not in self.buf and not self.buf.startswith(b".\r\n"):
            chunk = self.conn.recv(1 << 20)
            if not chunk:
                raise EOFError
            self.buf += chunk
        if self.buf.startswith(b".\r\n"):
            data, self.buf = b"", self.buf[3:]
        else:
            data, self.buf = self.buf.split(b"\r\n.\r\n", 1)
            data += b"\r\n"
        return data

    def do_auth(self, words):
        mech = words[1].upper() if len(words) > 1 else ""
        user, password = self.args.user or "", self.args.password or ""
        if mech != "CRAM-MD5" and not self.fault("auth", "334 "):
            return self.faults.get("auth") not in ("close", "stall")
        if mech == "LOGIN":
            got_user = base64.b64decode(self.readline())
            if not self.fault("auth1", "334 UGFzc3dvcmQ6"):
                return True
            got_pw = base64.b64decode(self.readline())
            ok = got_user == user.encode() and got_pw == password.encode()
        elif mech == "PLAIN":
            parts = base64.b64decode(self.readline()).split(b"\0")
            ok = len(parts) == 3 and parts[1] == user.encode() and parts[2] == password.encode()
        elif mech == "CRAM-MD5":
            challenge = b"<1896.697170952@127.0.0.1>"
            self.send("334 " + base64.b64encode(challenge).decode())
            reply = base64.b64decode(self.readline())
            good = hmac.new(password.encode(), challenge, hashlib.md5).hexdigest().encode()
            ok = reply == user.encode() + b" " + good
        elif mech == "NTLM":
            sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
            import ntlm_verify
            self.readline()  # negotiate
            challenge, server_challenge, info = ntlm_verify.make_challenge(self.args.domain or "")
            self.send("334 " + base64.b64encode(challenge).decode())
            auth = base64.b64decode(self.readline())
            ok = ntlm_verify.verify(auth, user, self.args.domain or "", password, server_challenge, info)
        else:
            self.send("504 unknown mechanism")
            return True
        if ok and self.faults.get("auth2") is None:
            self.auth, self.login = mech, user
            self.send("235 authenticated")
        elif ok:
            return self.fault("auth2", "235 authenticated")
        else:
            self.send("535 authentication failed")
        return True


def family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def run_raw(args):
    listener = socket.socket(family(args.host))
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((args.host, args.port))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    watch_stdin_and_lifetime(args.lifetime, lambda: os._exit(0))

    def serve(conn):
        try:
            RawSession(conn, args).run()
        except (EOFError, OSError):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("kind", choices=["aiosmtpd", "raw"])
    p.add_argument("--record", required=True)
    p.add_argument("--user")
    p.add_argument("--password")
    p.add_argument("--domain")
    p.add_argument("--mechanisms", default="LOGIN,PLAIN,CRAM-MD5")
    p.add_argument("--fault", action="append", default=[])
    p.add_argument("--lifetime", type=float, default=60)
    p.add_argument("--port", type=int, default=0)
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--mechanisms-before-tls", default="")
    args = p.parse_args()
    (run_aiosmtpd if args.kind == "aiosmtpd" else run_raw)(args)


if __name__ == "__main__":
    main()
