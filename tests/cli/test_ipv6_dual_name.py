"""A host name with two addresses, the first of which never answers: hanamail
send and hanamail capture still connect, to the second, within the connect
time-out. The run has a network namespace and an /etc/hosts of its own, where
the name resolves to ::1 first and 127.0.0.1 second; on ::1 the port is held
by a listener whose queue is full, so connection requests there go
unanswered as to a host that is gone. The servers (aiosmtpd, nginx) listen on
127.0.0.1 only."""
import base64
import email
import email.policy
import os
import select
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from netns import enter_netns  # noqa: E402

NAME = "dual.hanamail.test"
enter_netns(__file__, hosts="127.0.0.1 localhost\n::1 %s\n127.0.0.1 %s\n" % (NAME, NAME))

import smtp_peer  # noqa: E402
from http_servers import Nginx  # noqa: E402

CLI = os.environ.get("HANAMAIL_CLI")
TIMEOUT = 4


def resolver_order():
    return [a[4][0] for a in socket.getaddrinfo(NAME, 25, type=socket.SOCK_STREAM)]


class Blackhole:
    """[::1]:port with a full queue that is never accepted."""

    def __init__(self, port):
        self.listener = socket.socket(socket.AF_INET6)
        self.listener.bind(("::1", port))
        self.listener.listen(0)
        self.queued = []
        self.full = False
        for _ in range(64):
            c = socket.socket(socket.AF_INET6)
            c.setblocking(False)
            c.connect_ex(("::1", port))
            self.queued.append(c)
            if not select.select([], [c], [], 0.3)[1]:
                self.full = True
                break

    def close(self):
        for c in self.queued + [self.listener]:
            c.close()


class DualNameTest(unittest.TestCase):
    def setUp(self):
        if resolver_order() != ["::1", "127.0.0.1"]:
            self.skipTest("the resolver does not give ::1 then 127.0.0.1 for the name: %r" % resolver_order())
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def blackhole(self, port):
        hole = Blackhole(port)
        self.addCleanup(hole.close)
        if not hole.full:
            self.skipTest("this system accepts every connection request on a full queue")

    def test_send_reaches_the_second_address(self):
        body = os.path.join(self.tmp.name, "body.txt")
        with open(body, "w") as f:
            f.write("second address\n")
        log_xml = os.path.join(self.tmp.name, "log.xml")
        with smtp_peer.Server("aiosmtpd", user="u", password="p", mechanisms="LOGIN") as server:
            self.blackhole(server.port)
            start = time.monotonic()
            r = subprocess.run([CLI, "send", "--from", "a@example.jp", "--to", "b@example.jp", "--subject", "dual",
                                "--text", body, "--smtp-host", NAME, "--smtp-port", str(server.port),
                                "--timeout", str(TIMEOUT), "--log-xml", log_xml], capture_output=True, timeout=60)
            elapsed = time.monotonic() - start
            self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
            self.assertLess(elapsed, TIMEOUT)
            # The first address had its share of the time-out before the second was tried.
            self.assertGreater(elapsed, TIMEOUT / 2 - 0.5)
            msgs = server.messages()
            self.assertEqual(len(msgs), 1)
            msg = email.message_from_bytes(base64.b64decode(msgs[0]["data"]), policy=email.policy.default)
            self.assertEqual(msg["Subject"], "dual")
            with open(log_xml, encoding="utf-8") as f:
                log = f.read()
            self.assertIn("Cannot connect to this address, trying the next.", log)
            self.assertIn("[::1]:%d" % server.port, log)

            # Forced to IPv4, the unanswered address is never tried.
            start = time.monotonic()
            r = subprocess.run([CLI, "send", "--from", "a@example.jp", "--to", "b@example.jp", "--subject", "v4",
                                "--text", body, "--smtp-host", NAME, "--smtp-port", str(server.port), "-4",
                                "--timeout", str(TIMEOUT)], capture_output=True, timeout=60)
            self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
            self.assertLess(time.monotonic() - start, TIMEOUT / 2 - 0.5)
            self.assertEqual(len(server.messages()), 2)

    def test_capture_reaches_the_second_address(self):
        root = os.path.join(self.tmp.name, "site")
        os.makedirs(root)
        with open(os.path.join(root, "p.html"), "w") as f:
            f.write("<html><body><p>dual</p><img src=\"i.gif\"></body></html>")
        with open(os.path.join(root, "i.gif"), "wb") as f:
            f.write(b"GIF89a" + bytes(range(256)) * 4)
        nginx = Nginx(self.tmp.name, root).start()
        self.addCleanup(nginx.stop)
        self.blackhole(nginx.port)
        out = os.path.join(self.tmp.name, "p.eml")
        start = time.monotonic()
        r = subprocess.run([CLI, "capture", "http://%s:%d/p.html" % (NAME, nginx.port), "--timeout", str(TIMEOUT),
                            "-o", out], capture_output=True, timeout=60)
        elapsed = time.monotonic() - start
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        # The image comes over the connection the page opened.
        self.assertLess(elapsed, TIMEOUT)
        with open(out, "rb") as f:
            msg = email.message_from_bytes(f.read(), policy=email.policy.default)
        gifs = [p for p in msg.walk() if p.get_content_type() == "image/gif"]
        self.assertEqual(len(gifs), 1)
        self.assertEqual(gifs[0].get_content(), b"GIF89a" + bytes(range(256)) * 4)
        self.assertEqual(sorted(uri for _, _, uri in nginx.requests_since(0)), ["/i.gif", "/p.html"])


if __name__ == "__main__":
    unittest.main()
