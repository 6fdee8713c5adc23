"""Sending through the flat functions. The component always uses port 25, so
the tests run in a network namespace of their own (unshare, loopback up),
where they own that port; they are skipped, visibly, where the kernel refuses
user namespaces. Servers: Debian's aiosmtpd with AUTH, and the tests' raw
server for a reset in the middle of DATA."""
import base64
import email
import email.policy
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from netns import enter_netns  # noqa: E402

enter_netns(__file__)

from flat_support import b, load, log_xml  # noqa: E402
import smtp_peer  # noqa: E402

USER = "flat-user"
PASSWORD = "Flat-9q!pW"
lib = load()


class FlatSendTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        lib.ClearMail()
        lib.SetSmtpHost(b"127.0.0.1")
        lib.SetSmtpLogin(b(USER))
        lib.SetSmtpPassword(b(PASSWORD))

    def tearDown(self):
        self.tmp.cleanup()

    def saved_log(self, name):
        data, root = log_xml(lib, os.path.join(self.tmp.name, name))
        for s in smtp_peer.secrets(USER, PASSWORD):
            self.assertNotIn(s, data)
        return data, root

    def compose(self):
        lib.AddHeaderField(b"From", b("山田 太郎 <taro@example.jp>"))
        lib.AddHeaderField(b"Subject", b("来週の打ち合わせ"))
        lib.AddRecipient(b"To", b("田中 花子"), b"hanako@example.jp")
        lib.AddRecipient(b"CC", b"", b"suzuki@example.jp")
        lib.AddRecipient(b"Bcc", b"", b"hidden@example.jp")
        lib.AddHeaderField(b"TBX-ReturnReceipt", b"NO")
        lib.SetPlainTextBody(b("田中様\nよろしくお願いします。\n"))

    def test_send_clear_and_send_again(self):
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN", port=25) as server:
            self.compose()
            self.assertEqual(lib.SendMail(), 1)
            data, root = self.saved_log("sent.xml")
            self.assertIsNotNone(root.find("SendEmail"), data)
            msgs = server.messages()
            self.assertEqual(len(msgs), 1)
            self.assertEqual(msgs[0]["auth"], "LOGIN")
            self.assertEqual(msgs[0]["rcpt_tos"], ["hanako@example.jp", "suzuki@example.jp", "hidden@example.jp"])
            raw = base64.b64decode(msgs[0]["data"])
            self.assertNotIn(b"hidden@example.jp", raw)
            self.assertNotIn(b"TBX-", raw)
            self.assertNotIn(b"Bcc", raw)
            msg = email.message_from_bytes(raw, policy=email.policy.default)
            self.assertEqual(msg.defects, [])
            self.assertEqual(str(msg["subject"]), "来週の打ち合わせ")
            self.assertEqual(msg.get_content().replace("\r\n", "\n"), "田中様\nよろしくお願いします。\n")

            lib.ClearMail()
            lib.AddHeaderField(b"From", b"taro@example.jp")
            lib.AddHeaderField(b"Subject", b"second")
            lib.AddRecipient(b"To", b"", b"second@example.jp")
            lib.SetPlainTextBody(b"again")
            self.assertEqual(lib.SendMail(), 1)
            msgs = server.messages()
            self.assertEqual(len(msgs), 2)
            self.assertEqual(msgs[1]["rcpt_tos"], ["second@example.jp"])
            self.assertEqual(msgs[1]["auth"], "LOGIN")
            self.saved_log("second.xml")

    def test_refused_login_logs_no_secret(self):
        # The raw server: it refuses at once where aiosmtpd lets a failed login wait.
        with smtp_peer.Server("raw", user=USER, password="something-else", mechanisms="PLAIN", port=25) as server:
            self.compose()
            self.assertEqual(lib.SendMail(), 0)
            data, root = self.saved_log("refused.xml")
            self.assertIsNotNone(root.find("SendEmail"), data)
            self.assertEqual(server.messages(), [])

    def test_c_host_survives_a_reset_during_data(self):
        host = os.environ.get("HANAMAIL_RESET_HOST")
        if not host:
            self.skipTest("HANAMAIL_RESET_HOST names no program")
        with smtp_peer.Server("raw", "--fault", "data=resetduring", user=USER, password=PASSWORD, port=25):
            r = subprocess.run([host], capture_output=True, timeout=120)
        self.assertEqual(r.returncode, 0, (r.returncode, r.stdout, r.stderr))
        self.assertEqual(r.stdout, b"send: 0\nstill running\n")


if __name__ == "__main__":
    unittest.main()
