"""The Windows build's hanamail.exe under Wine sends over Schannel to the
Linux-side servers on 127.0.0.1: aiosmtpd with STARTTLS (AUTH only after it)
and with implicit TLS, certificates made for the run. What arrived is judged
by Python's email package; the certificate checks are the ones Linux makes."""
import base64
import email
import email.policy
import os
import subprocess
import sys
import tempfile
import unittest

EXE = os.environ.get("HANAMAIL_WIN_CLI", "")
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import smtp_peer  # noqa: E402
import tls_certs  # noqa: E402

USER = "tls-user"
PASSWORD = "Pw-tls-9x!"


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


@unittest.skipUnless(EXE and os.path.exists(EXE), "the Windows hanamail.exe is not built")
class SchannelSendTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.certs = tls_certs.make(os.path.join(cls.tmp.name, "certs"))
        cls.attachment = os.path.join(cls.tmp.name, "data.bin")
        with open(cls.attachment, "wb") as f:
            f.write(os.urandom(1 << 20))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def server(self, kind, *extra, cert="good"):
        pem, key = self.certs[cert]
        return smtp_peer.Server(kind, *extra, "--cert", pem, "--key", key, user=USER, password=PASSWORD,
                                mechanisms="LOGIN,PLAIN")

    def send(self, server, *args):
        env = dict(os.environ, HM_TLS_PW=PASSWORD, WINEDEBUG="-all")
        cmd = ["wine", EXE, "send", "--from", "sender@example.jp", "--to", "rcpt@example.jp",
               "--subject", "Schannel", "--text", winpath(os.path.join(HERE, "tls_schannel_wine.py")),
               "--attach", winpath(self.attachment), "--smtp-host", "localhost", "--smtp-port", str(server.port),
               "--login", USER, "--password-env", "HM_TLS_PW", "--timeout", "20", *args]
        r = subprocess.run(cmd, capture_output=True, timeout=180, env=env)
        for s in (PASSWORD.encode(), base64.b64encode(PASSWORD.encode())):
            self.assertNotIn(s, r.stdout + r.stderr)
        return r

    def test_modes_deliver_the_email_exactly(self):
        ca = ["--ca-file", winpath(self.certs["ca"])]
        for kind, mode in [("starttls", "starttls"), ("starttls", "auto"), ("implicit", "implicit")]:
            with self.subTest(mode=mode), self.server("aiosmtpd", "--tls", kind) as server:
                r = self.send(server, "--tls", mode, *ca)
                err = r.stderr.decode("utf-8", "replace")
                self.assertEqual(r.returncode, 0, err)
                msgs = server.messages()
                self.assertEqual(len(msgs), 1)
                self.assertTrue(msgs[0]["tls"])
                self.assertEqual(msgs[0]["auth"], "LOGIN")
                msg = email.message_from_bytes(base64.b64decode(msgs[0]["data"]), policy=email.policy.default)
                self.assertEqual(msg["Subject"], "Schannel")
                files = [p for p in msg.walk() if p.get_filename()]
                self.assertEqual(len(files), 1)
                with open(self.attachment, "rb") as f:
                    self.assertEqual(files[0].get_content(), f.read())

    def test_certificate_checks(self):
        ca = ["--ca-file", winpath(self.certs["ca"])]
        cases = [
            ("good", [], "Server certificate not trusted."),
            ("expired", ca, "Server certificate not trusted."),
            ("other", ca, "Server name does not match the certificate."),
            ("self", ca, "Server certificate not trusted."),
            ("self", ["--ca-file", winpath(self.certs["self"][0])], None),
            ("expired", ["--insecure"], None),
        ]
        for cert, options, line in cases:
            with self.subTest(cert=cert, options=options), \
                    self.server("aiosmtpd", "--tls", "starttls", cert=cert) as server:
                r = self.send(server, "--tls", "starttls", *options)
                err = r.stderr.decode("utf-8", "replace")
                if line is None:
                    self.assertEqual(r.returncode, 0, err)
                    self.assertEqual(len(server.messages()), 1)
                else:
                    self.assertEqual(r.returncode, 1, err)
                    self.assertIn("TLS handshake failed.", err)
                    self.assertIn(line, err)
                    self.assertEqual(server.messages(), [])

    def test_reply_glued_to_the_220_fails_the_send(self):
        with self.server("raw", "--fault", "starttls=glued", "--mechanisms-before-tls", "LOGIN") as server:
            r = self.send(server, "--tls", "auto", "--ca-file", winpath(self.certs["ca"]))
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"The server sent data after its reply to STARTTLS.", r.stderr)
            self.assertEqual(server.messages(), [])


if __name__ == "__main__":
    unittest.main()
