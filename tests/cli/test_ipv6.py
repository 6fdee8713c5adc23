"""hanamail send and hanamail capture over IPv6 to real servers on ::1:
Debian's aiosmtpd (in the clear and with STARTTLS, its certificate naming
::1), Debian's nginx listening on [::1] (plain and with ssl), and a byte-level HTTP server for the
request's Host line. What arrived is judged by Python's email package."""
import base64
import email
import email.policy
import hashlib
import os
import random
import socket
import subprocess
import sys
import tempfile
import unittest

CLI = os.environ.get("HANAMAIL_CLI")
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import smtp_peer  # noqa: E402
import tls_certs  # noqa: E402
from http_servers import Nginx, RawServer  # noqa: E402

USER = "v6-user"
PASSWORD = "Pw-v6-3q!"
BODY = "IPv6 で届くはずの本文です。\n.点で始まる行\n"


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


@unittest.skipUnless(has_ipv6_loopback(), "this system has no IPv6 loopback")
class Ipv6SendTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.body = os.path.join(cls.tmp.name, "body.txt")
        with open(cls.body, "w", encoding="utf-8") as f:
            f.write(BODY)
        cls.log_xml = os.path.join(cls.tmp.name, "log.xml")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def send(self, host, port, *args, prefix=()):
        if os.path.exists(self.log_xml):
            os.remove(self.log_xml)
        cmd = [*prefix, CLI, "send", "--from", "sender@example.jp", "--to", "rcpt@example.jp", "--subject",
               "v6 送信", "--text", self.body, "--charset", "utf-8", "--smtp-host", host,
               *(["--smtp-port", str(port)] if port else []), "--login", USER, "--password-env", "HM_V6_PW",
               "--timeout", "10", "--log-xml", self.log_xml, *args]
        r = subprocess.run(cmd, capture_output=True, timeout=60, env=dict(os.environ, HM_V6_PW=PASSWORD))
        log = ""
        if os.path.exists(self.log_xml):
            with open(self.log_xml, encoding="utf-8") as f:
                log = f.read()
        for out in (r.stdout, r.stderr, log.encode()):
            for s in smtp_peer.secrets(USER, PASSWORD):
                self.assertNotIn(s, out)
        return r, log

    def assert_delivered(self, server, r, tls=False):
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        msgs = server.messages()
        self.assertEqual(len(msgs), 1)
        m = msgs[0]
        self.assertEqual(m["auth"], "LOGIN")
        self.assertEqual(m["tls"], tls)
        self.assertEqual(m["rcpt_tos"], ["rcpt@example.jp"])
        msg = email.message_from_bytes(base64.b64decode(m["data"]), policy=email.policy.default)
        self.assertEqual(msg["Subject"], "v6 送信")
        self.assertEqual(msg.get_content().replace("\r\n", "\n"), BODY)

    def test_literal_with_and_without_brackets(self):
        # ::1 is loopback: the login goes in the clear without --allow-plain-auth.
        for host in ["::1", "[::1]"]:
            with self.subTest(host=host), smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD,
                                                            mechanisms="LOGIN", host="::1") as server:
                r, log = self.send(host, server.port, "-6")
                self.assert_delivered(server, r)
                self.assertIn(host, log)

    def test_port_in_the_host_setting(self):
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN", host="::1") as server:
            r, log = self.send("[::1]:%d" % server.port, None)
            self.assert_delivered(server, r)
            self.assertIn("[::1]:%d" % server.port, log)
            # The host's own port comes before --smtp-port.
            r, _ = self.send(" [::1]:%d " % server.port, 1)
            self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
            self.assertEqual(len(server.messages()), 2)
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN") as server:
            r, _ = self.send("127.0.0.1:%d" % server.port, None)
            self.assert_delivered(server, r)
        # Not a port: nothing is looked up or sent.
        for host in ["[::1]:", "[::1]:0", "[::1]:70000", "127.0.0.1:2x"]:
            with self.subTest(host=host):
                r, log = self.send(host, None)
                self.assertEqual(r.returncode, 1)
                self.assertIn("Invalid port in SMTP host", log)
                self.assertNotIn("Connecting to SMTP server", log)

    def test_ehlo_names_the_address_when_the_system_has_no_name(self):
        # A UTS namespace of its own with an empty host name (needs root).
        probe = subprocess.run(["unshare", "--uts", "true"], capture_output=True)
        if probe.returncode != 0:
            self.skipTest("cannot make a UTS namespace here: " + probe.stderr.decode("utf-8", "replace").strip())
        nameless = ["unshare", "--uts", sys.executable, "-c",
                    "import os, socket, sys; socket.sethostname(''); os.execv(sys.argv[1], sys.argv[1:])"]
        for host, literal in [("::1", "[IPv6:::1]"), ("127.0.0.1", "[127.0.0.1]")]:
            with self.subTest(host=host), smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD,
                                                            mechanisms="LOGIN", host=host) as server:
                r, _ = self.send(host, server.port, prefix=nameless)
                self.assert_delivered(server, r)
                self.assertEqual(server.messages()[0]["ehlo"], literal)
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN", host="::1") as server:
            r, _ = self.send("::1", server.port)
            self.assert_delivered(server, r)
            self.assertNotIn(server.messages()[0]["ehlo"], ("", "[IPv6:::1]"))

    def test_starttls_checks_the_certificate_for_the_address(self):
        certs = tls_certs.make(os.path.join(self.tmp.name, "certs"))
        pem, key = certs["good"]
        with smtp_peer.Server("aiosmtpd", "--tls", "starttls", "--cert", pem, "--key", key, user=USER,
                              password=PASSWORD, mechanisms="LOGIN", host="::1") as server:
            r, log = self.send("[::1]", server.port, "--tls", "starttls", "--ca-file", certs["ca"])
            self.assert_delivered(server, r, tls=True)
            self.assertIn("<tls_version>TLSv1.", log)
        pem, key = certs["other"]
        with smtp_peer.Server("aiosmtpd", "--tls", "starttls", "--cert", pem, "--key", key, user=USER,
                              password=PASSWORD, mechanisms="LOGIN", host="::1") as server:
            r, log = self.send("[::1]", server.port, "--tls", "starttls", "--ca-file", certs["ca"])
            self.assertEqual(r.returncode, 1)
            self.assertEqual(server.messages(), [])
            self.assertIn("Server name does not match the certificate.", log)

    def test_forced_family(self):
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN", host="::1") as server:
            # localhost is ::1 when only IPv6 may be used.
            r, _ = self.send("localhost", server.port, "-6")
            self.assert_delivered(server, r)
            r, log = self.send("[::1]", server.port, "-4")
            self.assertEqual(r.returncode, 1)
            self.assertIn("Cannot get host by name.", log)
            self.assertEqual(len(server.messages()), 1)
        r = subprocess.run([CLI, "send", "--smtp-host", "::1", "-4", "-6", "--to", "a@b.c"], capture_output=True)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"only one of -4 and -6", r.stderr)

    def test_help_documents_the_options(self):
        for command in ["send", "capture"]:
            out = subprocess.run([CLI, command, "--help"], capture_output=True, text=True).stdout
            self.assertIn("-4, -6", out)
            self.assertIn("::1", out)


@unittest.skipUnless(has_ipv6_loopback(), "this system has no IPv6 loopback")
class Ipv6CaptureTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.root = os.path.join(self.tmp.name, "site")
        os.makedirs(self.root)

    def capture(self, url, *args):
        out = os.path.join(self.tmp.name, "page.eml")
        r = subprocess.run([CLI, "capture", url, "--timeout", "10", "-o", out, *args], capture_output=True,
                           timeout=60)
        data = b""
        if r.returncode == 0:
            with open(out, "rb") as f:
                data = f.read()
        return r, data

    def test_page_from_nginx_on_ipv6_embeds_every_resource(self):
        images = {name: random.Random(name).randbytes(3000) for name in ["a.png", "b.gif"]}
        for name, data in images.items():
            with open(os.path.join(self.root, name), "wb") as f:
                f.write(data)
        nginx = Nginx(self.tmp.name, self.root, host="::1")
        with open(os.path.join(self.root, "x.html"), "w") as f:
            f.write('<html><body><p>v6</p><img src="a.png"><img src="%s"></body></html>' % nginx.url("b.gif"))
        nginx.start()
        self.addCleanup(nginx.stop)
        self.assertTrue(nginx.url("x.html").startswith("http://[::1]:"))
        r, data = self.capture(nginx.url("x.html"))
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        msg = email.message_from_bytes(data, policy=email.policy.default)
        html = next(p for p in msg.walk() if p.get_content_type() == "text/html").get_content()
        parts = {p["Content-ID"].strip("<>"): p.get_content() for p in msg.walk() if p["Content-ID"]}
        cids = [c for c in html.split('"') if c.startswith("cid:")]
        self.assertEqual(len(cids), 2, html)
        got = sorted(hashlib.sha256(parts[c[4:]]).hexdigest() for c in cids)
        self.assertEqual(got, sorted(hashlib.sha256(d).hexdigest() for d in images.values()))
        # One kept-open connection served the page and both images.
        seen = nginx.requests_since(0)
        self.assertEqual(sorted(uri for _, _, uri in seen), ["/a.png", "/b.gif", "/x.html"])
        self.assertEqual(len({conn for conn, _, _ in seen}), 1)

    def test_https_page_from_nginx_on_ipv6(self):
        certs = tls_certs.make(os.path.join(self.tmp.name, "certs"))
        image = random.Random(6).randbytes(5000)
        with open(os.path.join(self.root, "c.png"), "wb") as f:
            f.write(image)
        with open(os.path.join(self.root, "s.html"), "w") as f:
            f.write('<html><body><p>v6 over TLS</p><img src="c.png"></body></html>')
        nginx = Nginx(self.tmp.name, self.root, host="::1", tls=certs["good"]).start()
        self.addCleanup(nginx.stop)
        self.assertTrue(nginx.url("s.html").startswith("https://[::1]:"))
        r, data = self.capture(nginx.url("s.html"), "--ca-file", certs["ca"])
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        msg = email.message_from_bytes(data, policy=email.policy.default)
        html = next(p for p in msg.walk() if p.get_content_type() == "text/html").get_content()
        self.assertIn("v6 over TLS", html)
        embedded = [p.get_content() for p in msg.walk() if p["Content-ID"]]
        self.assertEqual([hashlib.sha256(d).hexdigest() for d in embedded], [hashlib.sha256(image).hexdigest()])
        # The certificate must name ::1 and lead to a CA given.
        r, _ = self.capture(nginx.url("s.html"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Server certificate not trusted.", r.stderr)

    def test_host_line_keeps_the_brackets_and_family_is_forced(self):
        def answer(path, request, conn):
            body = b"<html><body>v6</body></html>"
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n%s"
                         % (len(body), body))

        with RawServer(answer, host="::1") as server:
            r, _ = self.capture(server.url("p.html"), "-6")
            self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
            self.assertEqual(len(server.seen()), 1)
            self.assertIn("\r\nHost: [::1]\r\n", server.seen()[0] + "\r\n")
            self.assertTrue(server.seen()[0].startswith("GET /p.html HTTP/1.1\r\n"))
            r, _ = self.capture(server.url("p.html"), "-4")
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"Cannot get host by name.", r.stderr)
            self.assertEqual(len(server.seen()), 1)


if __name__ == "__main__":
    unittest.main()
