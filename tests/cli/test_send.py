"""hanamail send against real servers on 127.0.0.1: Debian's aiosmtpd with
AUTH LOGIN, PLAIN and CRAM-MD5, and a byte-level server of the tests' own for
faults. What arrived is judged by Python's email package."""
import base64
import email
import email.policy
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
USER = "demo-user"
PASSWORD = "Pw-7f3k!q"


class Server(smtp_peer.Server):
    def __init__(self, kind, *extra, mechanisms="LOGIN,PLAIN,CRAM-MD5"):
        super().__init__(kind, *extra, user=USER, password=PASSWORD, mechanisms=mechanisms)


def send(server, *args, env_password=True, timeout=60):
    env = dict(os.environ)
    extra = []
    if env_password:
        env["HM_TEST_PW"] = PASSWORD
        extra = ["--login", USER, "--password-env", "HM_TEST_PW"]
    cmd = [CLI, "send", "--smtp-host", "127.0.0.1", "--smtp-port", str(server.port), *extra, *args]
    return subprocess.run(cmd, capture_output=True, timeout=timeout, env=env)


def assert_no_secret(test, *outputs):
    secrets = [PASSWORD.encode(), base64.b64encode(PASSWORD.encode()),
               base64.b64encode(b"\0".join([USER.encode(), USER.encode(), PASSWORD.encode()]))]
    for out in outputs:
        for s in secrets:
            test.assertNotIn(s, out)


class SendTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.attachment = os.path.join(cls.tmp.name, "資料.bin")
        with open(cls.attachment, "wb") as f:
            f.write(bytes(range(256)) * 300)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def compose_args(self, charset):
        return ["--charset", charset, "--from", "山田 太郎 <taro@example.jp>",
                "--to", "田中 花子 <hanako@example.jp>", "--cc", "suzuki@example.jp",
                "--bcc", "hidden@example.jp", "--subject", "来週の打ち合わせ",
                "--header", "X-Test: 1",
                "--attach", self.attachment]

    def test_each_method_delivers_the_email_as_composed(self):
        body = os.path.join(self.tmp.name, "body.txt")
        with open(body, "w", encoding="utf-8") as f:
            f.write("田中様\nいつもお世話になっております。\n.一行目が点\n")
        for charset, mechanism in [("iso-2022-jp", "LOGIN"), ("shift_jis", "PLAIN"), ("utf-8", "CRAM-MD5")]:
            with self.subTest(charset=charset, mechanism=mechanism), \
                    Server("aiosmtpd", mechanisms=mechanism) as server:
                log_xml = os.path.join(self.tmp.name, "log.xml")
                r = send(server, *self.compose_args(charset), "--text", body, "--log-xml", log_xml)
                self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
                msgs = server.messages()
                self.assertEqual(len(msgs), 1)
                m = msgs[0]
                self.assertEqual(m["auth"], mechanism)
                self.assertEqual(m["mail_from"], "taro@example.jp")
                self.assertEqual(m["rcpt_tos"], ["hanako@example.jp", "suzuki@example.jp", "hidden@example.jp"])
                data = base64.b64decode(m["data"])
                self.assertNotIn(b"hidden@example.jp", data)
                self.assertNotIn(b"TBX-", data)
                msg = email.message_from_bytes(data, policy=email.policy.default)
                self.assertEqual(msg.defects, [])
                for part in msg.walk():
                    self.assertEqual(part.defects, [], part.get_content_type())
                self.assertEqual(str(msg["subject"]), "来週の打ち合わせ")
                self.assertEqual(msg["from"].addresses[0].display_name, "山田 太郎")
                self.assertEqual(msg["to"].addresses[0].display_name, "田中 花子")
                self.assertEqual(msg.get_body(("plain",)).get_content(),
                                 "田中様\r\nいつもお世話になっております。\r\n.一行目が点\r\n")
                atts = list(msg.iter_attachments())
                self.assertEqual(len(atts), 1)
                self.assertEqual(atts[0].get_filename(), "資料.bin")
                with open(self.attachment, "rb") as f:
                    self.assertEqual(atts[0].get_content(), f.read())
                with open(log_xml, "rb") as f:
                    assert_no_secret(self, r.stdout, r.stderr, f.read())

    def test_passwords_come_only_from_a_file_or_the_environment(self):
        with Server("aiosmtpd", mechanisms="LOGIN") as server:
            pw_file = os.path.join(self.tmp.name, "pw")
            with open(pw_file, "w") as f:
                f.write(PASSWORD + "\nsecond line\n")
            base = ["--from", "a@example.com", "--to", "b@example.com", "--subject", "pw"]
            r = send(server, *base, "--login", USER, "--password-file", pw_file, env_password=False)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(server.messages()[-1]["auth"], "LOGIN")
            bad = [
                ["--login", USER, "--password-file", pw_file, "--password-env", "HM_TEST_PW"],
                ["--login", USER, "--password-file", os.path.join(self.tmp.name, "missing")],
                ["--login", USER, "--password-env", "HM_TEST_SURELY_UNSET"],
                ["--login", USER, "--password", PASSWORD],
            ]
            for extra in bad:
                with self.subTest(extra=extra[2:]):
                    r = send(server, *base, *extra, env_password=False)
                    self.assertEqual(r.returncode, 2, r.stderr)
                    assert_no_secret(self, r.stdout, r.stderr)
            self.assertEqual(len(server.messages()), 1)

    def test_receipt_and_hostile_fields_add_no_command_or_header(self):
        with Server("aiosmtpd") as server:
            r = send(server, "--from", "a@example.com", "--to", "b@example.com",
                     "--subject", "hi\r\nBcc: evil@example.com\r\nRCPT TO:<evil@example.com>",
                     "--header", "TBX-ReturnReceipt: YES")
            self.assertEqual(r.returncode, 0, r.stderr)
            m = server.messages()[-1]
            self.assertEqual(m["rcpt_tos"], ["b@example.com"])
            msg = email.message_from_bytes(base64.b64decode(m["data"]), policy=email.policy.default)
            self.assertIsNone(msg["bcc"])
            self.assertEqual(str(msg["disposition-notification-to"]), "<a@example.com>")
            self.assertNotIn("TBX-ReturnReceipt", msg)

    def test_distribution_list_and_refused_addresses(self):
        lst = os.path.join(self.tmp.name, "list.txt")
        with open(lst, "wb") as f:
            f.write(b"first@example.com\r\nsecond@example.com\n\nbad\rline@example.com\nthird@example.com\n")
        with Server("raw", "--fault", "rcpt=refuse1") as server:
            r = send(server, "--from", "a@example.com", "--to", "ignored@example.com", "--subject", "list",
                     "--dist-list", lst)
            self.assertEqual(r.returncode, 1)
            err = r.stderr.decode()
            self.assertIn("Partial send failure.", err)
            rcpts = [m["rcpt_tos"] for m in server.messages()]
            self.assertEqual(rcpts, [["second@example.com"], ["third@example.com"]])
            for m in server.messages():
                msg = email.message_from_bytes(base64.b64decode(m["data"]), policy=email.policy.default)
                self.assertEqual(str(msg["to"]), m["rcpt_tos"][0])
                self.assertNotIn(b"TBX-", base64.b64decode(m["data"]))

    def test_every_fault_fails_within_the_time_outs(self):
        attach_big = os.path.join(self.tmp.name, "big.bin")
        with open(attach_big, "wb") as f:
            f.write(os.urandom(8 << 20))
        cases = [
            ("greeting=554", "Failed to get initial response"),
            ("greeting=close", "Failed to get initial response"),
            ("greeting=nocrlf", "Failed to get initial response"),
            ("ehlo=close", "Failed to connect to SMTP server."),
            ("ehlo=endless", "Failed to connect to SMTP server."),
            ("auth=535", "Failed to send AUTH LOGIN"),
            ("auth1=535", "Failed to get response to login name"),
            ("auth2=535", "Failed to get response to login password"),
            ("mail=550", "Failed when sending MAIL FROM:<a@example.com>"),
            ("mail=close", "Failed when sending MAIL FROM:<a@example.com>"),
            ("mail=stall", "Socket read timeout"),
            ("rcpt=550", "Failed when sending RCPT TO:<b@example.com>"),
            ("data=554", "Failed when sending DATA command"),
            ("data=closeduring", "Failed when sending email body"),
            ("data=stopreading", "Failed when sending email body"),
            ("end=554", "Failed when sending body end marker"),
            ("any=barelf", None),
        ]
        for fault, line in cases:
            with self.subTest(fault=fault), Server("raw", "--fault", fault, mechanisms="LOGIN") as server:
                extra = ["--attach", attach_big] if fault.startswith("data=") else []
                start = time.monotonic()
                r = send(server, "--from", "a@example.com", "--to", "b@example.com", "--subject", "fault",
                         "--timeout", "2", *extra)
                elapsed = time.monotonic() - start
                err = r.stderr.decode("utf-8", "replace")
                if line is None:
                    self.assertEqual(r.returncode, 0, err)
                    continue
                self.assertEqual(r.returncode, 1, err)
                self.assertIn(line, err)
                self.assertLess(elapsed, 12)
                assert_no_secret(self, r.stdout, r.stderr)

    def test_help_lists_every_option(self):
        r = subprocess.run([CLI, "send", "--help"], capture_output=True, timeout=30)
        self.assertEqual(r.returncode, 0)
        for option in ["--eml", "--xml-file", "--smtp-host", "--smtp-port", "--login", "--password-file",
                       "--password-env", "--dist-list", "--timeout", "--quiet", "--log-xml", "--from", "--to",
                       "--bcc", "--attach", "--header"]:
            self.assertIn(option.encode(), r.stdout)
        r = subprocess.run([CLI, "send", "--to", "b@example.com"], capture_output=True, timeout=30)
        self.assertEqual(r.returncode, 2)


if __name__ == "__main__":
    unittest.main()
