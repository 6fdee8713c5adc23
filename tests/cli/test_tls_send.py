"""hanamail send over TLS to real servers on 127.0.0.1: Debian's aiosmtpd with
STARTTLS (AUTH offered only after it) and with implicit TLS, and the tests'
byte-level server for what a real one would not do. Certificates are made
for the run by tls_certs.py. What arrived is judged by Python's email package."""
import base64
import email
import email.policy
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

CLI = os.environ.get("HANAMAIL_CLI")
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import smtp_peer  # noqa: E402
import tls_certs  # noqa: E402

USER = "tls-user"
PASSWORD = "Pw-tls-9x!"
UNTRUSTED = "Server certificate not trusted."
MISMATCH = "Server name does not match the certificate."


class TlsSendTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.certs = tls_certs.make(os.path.join(cls.tmp.name, "certs"))
        cls.attachment = os.path.join(cls.tmp.name, "図面.bin")
        with open(cls.attachment, "wb") as f:
            f.write(os.urandom(3 << 20))
        cls.body = os.path.join(cls.tmp.name, "body.txt")
        with open(cls.body, "w", encoding="utf-8") as f:
            f.write("暗号化された接続で送ります。\n.点で始まる行\n")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def server(self, kind, *extra, cert="good", mechanisms="LOGIN,PLAIN"):
        pem, key = self.certs[cert]
        return smtp_peer.Server(kind, *extra, "--cert", pem, "--key", key, user=USER, password=PASSWORD,
                                mechanisms=mechanisms)

    def send(self, server, *args, host="localhost", attach=False, timeout=60, env=None):
        self.log_xml = os.path.join(self.tmp.name, "log.xml")
        if os.path.exists(self.log_xml):
            os.remove(self.log_xml)
        cmd = [CLI, "send", "--from", "送信者 <sender@example.jp>", "--to", "rcpt@example.jp",
               "--subject", "安全な送信", "--text", self.body, "--charset", "iso-2022-jp",
               *(["--attach", self.attachment] if attach else []),
               "--smtp-host", host, "--smtp-port", str(server.port),
               "--login", USER, "--password-env", "HM_TLS_PW", "--log-xml", self.log_xml, *args]
        env = dict(os.environ, HM_TLS_PW=PASSWORD, **(env or {}))
        r = subprocess.run(cmd, capture_output=True, timeout=timeout, env=env)
        log = open(self.log_xml, encoding="utf-8").read() if os.path.exists(self.log_xml) else ""
        for out in (r.stdout, r.stderr, log.encode()):
            for s in smtp_peer.secrets(USER, PASSWORD):
                self.assertNotIn(s, out)
        # A signal (SIGPIPE above all) would be a negative status.
        self.assertIn(r.returncode, (0, 1), r.stderr)
        return r, log

    def assert_delivered(self, server, r, log, attach=False):
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        msgs = server.messages()
        self.assertEqual(len(msgs), 1)
        m = msgs[0]
        self.assertTrue(m["tls"])
        self.assertEqual(m["auth"], "LOGIN")
        self.assertEqual(m["mail_from"], "sender@example.jp")
        self.assertEqual(m["rcpt_tos"], ["rcpt@example.jp"])
        msg = email.message_from_bytes(base64.b64decode(m["data"]), policy=email.policy.default)
        self.assertEqual(msg["Subject"], "安全な送信")
        parts = list(msg.walk()) if attach else [msg]
        text = next(p for p in parts if p.get_content_type() == "text/plain")
        self.assertEqual(text.get_content().replace("\r\n", "\n"), "暗号化された接続で送ります。\n.点で始まる行\n")
        if attach:
            files = [p for p in parts if p.get_filename()]
            self.assertEqual(len(files), 1)
            with open(self.attachment, "rb") as f:
                self.assertEqual(files[0].get_content(), f.read())
        for line in ["<tls_version>TLSv1.", "<tls_cipher>", "<peer_certificate>subject: CN=localhost; issuer: ",
                     "Test Root CA"]:
            self.assertIn(line, log)
        return m

    def assert_refused(self, server, r, log, *lines):
        self.assertEqual(r.returncode, 1)
        self.assertEqual(server.messages(), [])
        for line in lines:
            self.assertIn(line, log)

    def test_each_mode_sends_the_email_exactly(self):
        ca = ["--ca-file", self.certs["ca"]]
        for kind, mode, host, attach in [("starttls", "starttls", "localhost", True),
                                         ("starttls", "auto", "127.0.0.1", False),
                                         ("implicit", "implicit", "localhost", True),
                                         ("implicit", "implicit", "127.0.0.1", False)]:
            with self.subTest(server=kind, mode=mode, host=host), \
                    self.server("aiosmtpd", "--tls", kind) as server:
                r, log = self.send(server, "--tls", mode, *ca, host=host, attach=attach)
                # AUTH is offered only after STARTTLS: the login shows the capabilities read over TLS.
                self.assert_delivered(server, r, log, attach=attach)
                self.assertIn("Starting TLS.", log)

    def test_starttls_required_but_not_offered(self):
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN") as server:
            r, log = self.send(server, "--tls", "starttls", host="127.0.0.1")
            self.assert_refused(server, r, log, "STARTTLS required but not offered by the server.")
            self.assertNotIn("login_method", log)

    def test_certificate_checks(self):
        ca = ["--ca-file", self.certs["ca"]]
        self_ca = ["--ca-file", self.certs["self"][0]]
        cases = [
            # cert, host, options, the line of a failure (None: delivered)
            ("good", "localhost", [], UNTRUSTED),  # our CA is not in the system's store
            ("good", "localhost", ["--insecure"], None),
            ("expired", "localhost", ca, UNTRUSTED),
            ("expired", "localhost", ca + ["--insecure"], None),
            ("other", "localhost", ca, MISMATCH),
            ("other", "127.0.0.1", ca, MISMATCH),
            ("other", "localhost", ["--insecure"], None),
            ("self", "localhost", ca, UNTRUSTED),
            ("self", "127.0.0.1", self_ca, None),
            ("self", "localhost", ["--insecure"], None),
        ]
        for cert, host, options, line in cases:
            with self.subTest(cert=cert, host=host, options=options), \
                    self.server("aiosmtpd", "--tls", "starttls", cert=cert) as server:
                r, log = self.send(server, "--tls", "starttls", *options, host=host)
                if line is None:
                    self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
                    self.assertEqual(len(server.messages()), 1)
                    self.assertTrue(server.messages()[0]["tls"])
                    if "--insecure" in options:
                        self.assertIn("not verified", log)
                else:
                    self.assert_refused(server, r, log, "TLS handshake failed.", line)
                    other = MISMATCH if line == UNTRUSTED else UNTRUSTED
                    self.assertNotIn(other, log)
                    self.assertNotIn("login_method", log)

    def test_system_anchors_from_the_bundle_and_the_directory(self):
        # Without --ca-file the CA must be among the system's anchors, as
        # SSL_CERT_FILE (a bundle) and SSL_CERT_DIR (a hashed directory) name them.
        d = tempfile.mkdtemp(dir=self.tmp.name)
        empty, hashed = os.path.join(d, "empty"), os.path.join(d, "hashed")
        os.makedirs(empty)
        os.makedirs(hashed)
        with open(self.certs["ca"]) as f:
            ca = f.read()
        with open(self.certs["self"][0]) as f:
            unrelated = f.read()
        system = ""
        if os.path.exists("/etc/ssl/certs/ca-certificates.crt"):
            with open("/etc/ssl/certs/ca-certificates.crt") as f:
                system = f.read()
        trusted_form = subprocess.run(["openssl", "x509", "-in", self.certs["ca"], "-trustout", "-addtrust",
                                       "serverAuth"], capture_output=True, text=True, check=True).stdout
        self.assertIn("BEGIN TRUSTED CERTIFICATE", trusted_form)
        shutil.copy(self.certs["ca"], os.path.join(hashed, "test-ca.pem"))
        subprocess.run(["openssl", "rehash", hashed], check=True, capture_output=True)

        def bundle(name, text):
            path = os.path.join(d, name)
            with open(path, "w") as f:
                f.write(text)
            return path

        cases = [
            ("CA last in a large bundle", bundle("last.pem", system + unrelated + "\n" + ca), empty, True),
            ("CA missing from the bundle", bundle("missing.pem", system + unrelated), empty, False),
            ("CA in the trusted form", bundle("trusted.pem", trusted_form), empty, True),
            ("CA in the hashed directory", os.path.join(d, "no-such-file.pem"), hashed, True),
        ]
        for what, file, directory, trusted in cases:
            with self.subTest(what), self.server("aiosmtpd", "--tls", "starttls") as server:
                r, log = self.send(server, "--tls", "starttls",
                                   env={"SSL_CERT_FILE": file, "SSL_CERT_DIR": directory})
                if trusted:
                    self.assert_delivered(server, r, log)
                else:
                    self.assert_refused(server, r, log, "Server certificate not trusted.")

    def test_capabilities_read_before_tls_are_forgotten(self):
        # In the clear the server offers PLAIN only; over TLS LOGIN only.
        with self.server("raw", "--mechanisms-before-tls", "PLAIN", mechanisms="LOGIN") as server:
            r, log = self.send(server, "--tls", "auto", "--ca-file", self.certs["ca"])
            self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
            m = server.messages()
            self.assertEqual(len(m), 1)
            self.assertTrue(m[0]["tls"])
            self.assertEqual(m[0]["auth"], "LOGIN")

    def test_faults_around_the_handshake(self):
        ca = ["--ca-file", self.certs["ca"], "--timeout", "3"]
        cases = [
            ("glued", "The server sent data after its reply to STARTTLS."),
            ("close", "TLS handshake failed."),
            ("stall", "TLS handshake failed."),
            ("garbage", "TLS handshake failed."),
            ("454", "TLS handshake failed."),
        ]
        for fault, line in cases:
            with self.subTest(fault=fault), \
                    self.server("raw", "--fault", "starttls=" + fault, "--mechanisms-before-tls", "LOGIN") as server:
                start = time.monotonic()
                r, log = self.send(server, "--tls", "auto", *ca)
                self.assertLess(time.monotonic() - start, 8)
                self.assert_refused(server, r, log, line)
                self.assertNotIn("login_method", log)


if __name__ == "__main__":
    unittest.main()
