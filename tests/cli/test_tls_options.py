"""hanamail send's TLS options and its refusal to send a login and password in
the clear to a host that is not this machine. The refusal is decided from
--smtp-host alone: it exits 2 before any name is looked up or byte sent."""
import base64
import os
import subprocess
import sys
import tempfile
import time
import unittest

CLI = os.environ.get("HANAMAIL_CLI")
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import smtp_peer  # noqa: E402

USER = "tls-user"
PASSWORD = "Pw-tls-9x!"
MESSAGE = ["--from", "a@example.jp", "--to", "b@example.jp", "--subject", "plain"]


def run(*args, timeout=60):
    env = dict(os.environ, HM_TLS_PW=PASSWORD)
    return subprocess.run([CLI, "send", *args], capture_output=True, timeout=timeout, env=env)


class TlsOptionsTest(unittest.TestCase):
    def test_login_in_the_clear_to_another_host_is_a_usage_error(self):
        with tempfile.TemporaryDirectory() as d:
            pw = os.path.join(d, "pw")
            with open(pw, "w") as f:
                f.write(PASSWORD + "\n")
            for host in ["mail.invalid", "192.0.2.1", "128.0.0.1", "localhost.example", "::2", "[::2]"]:
                with self.subTest(host=host):
                    start = time.monotonic()
                    r = run(*MESSAGE, "--tls", "none", "--login", USER, "--password-file", pw, "--smtp-host", host)
                    self.assertEqual(r.returncode, 2, r.stderr)
                    self.assertLess(time.monotonic() - start, 5)
                    err = r.stderr.decode()
                    self.assertIn("refusing to send the login and password", err)
                    self.assertIn("--allow-plain-auth", err)
                    # Nothing was tried: no lookup, no connection, no log.
                    self.assertNotIn("Cannot get host by name", err)
                    self.assertNotIn("SMTP_Connect", err)
                    self.assertEqual(r.stdout, b"")

    def test_loopback_hosts_may_log_in_without_tls(self):
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN") as server:
            for host, tls in [("127.0.0.1", "none"), ("localhost", "none"), ("LocalHost", "auto"),
                              ("127.0.0.1", "auto"), (" 127.0.0.1 ", None)]:
                with self.subTest(host=host, tls=tls):
                    before = len(server.messages())
                    extra = ["--tls", tls] if tls else []
                    r = run(*MESSAGE, *extra, "--login", USER, "--password-env", "HM_TLS_PW",
                            "--smtp-host", host, "--smtp-port", str(server.port))
                    self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
                    msgs = server.messages()
                    self.assertEqual(len(msgs), before + 1)
                    self.assertEqual(msgs[-1]["auth"], "LOGIN")
                    for secret in (PASSWORD.encode(), base64.b64encode(PASSWORD.encode())):
                        self.assertNotIn(secret, r.stdout + r.stderr)
        # ::1 is loopback too: not refused (this build then cannot reach it over IPv4).
        for host in ["::1", "[::1]"]:
            with self.subTest(host=host):
                r = run(*MESSAGE, "--tls", "none", "--login", USER, "--password-env", "HM_TLS_PW",
                        "--smtp-host", host, "--smtp-port", "9", "--timeout", "2")
                self.assertNotEqual(r.returncode, 2, r.stderr)
                self.assertNotIn(b"refusing", r.stderr)

    def test_option_errors_and_help(self):
        r = run(*MESSAGE, "--tls", "ssl", "--smtp-host", "127.0.0.1")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"--tls needs none, starttls, auto or implicit", r.stderr)
        r = run(*MESSAGE, "--tls", "--smtp-host", "127.0.0.1")
        self.assertEqual(r.returncode, 2)
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        out = r.stdout.decode()
        for option in ["--tls MODE", "--ca-file FILE", "--insecure", "--allow-plain-auth", "465"]:
            self.assertIn(option, out)


if __name__ == "__main__":
    unittest.main()
