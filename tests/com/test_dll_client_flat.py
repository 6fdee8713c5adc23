"""Hanamail.dll from a plain C program (flat_client.c): every export by
ordinal; dispatch calls that fail until the program registers the DLL and
then work on the same object; then the flat functions under the Japanese ANSI code page (932,
which Wine takes from LC_ALL=ja_JP.UTF-8) with Shift_JIS text, an export
judged by Python's email package, and a send to aiosmtpd with AUTH.

Sending needs port 25, so the test runs in a network namespace of its own."""
import base64
import email
import email.policy
import os
import subprocess
import unittest
import xml.etree.ElementTree as ET

import client_support
from client_support import wine_prefix

wine_prefix.enter_netns(__file__)

import smtp_peer  # noqa: E402

USER = "flat-user"
PASSWORD = "Sj1s-Pw!7q"
SUBJECT = "来週の打ち合わせ（表示ソフト）"
BODY = "田中様\nよろしくお願いします。\n"
ATTACHMENT = "資料.txt"
ATTACHMENT_BYTES = "添付の資料です。\r\n".encode("utf-8") + bytes(range(0, 256))


def locale_present(name):
    out = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
    return name.lower().replace("-", "") in (x.lower().replace("-", "") for x in out)


class FlatClientTest(client_support.ClientTestMixin, unittest.TestCase):
    def test_ordinals_and_flat_functions_under_code_page_932(self):
        self.assertTrue(locale_present("ja_JP.UTF-8"), "the locale ja_JP.UTF-8 is missing: run scripts/setup as root")
        with wine_prefix.Prefix({"LC_ALL": "ja_JP.UTF-8"}) as prefix:
            dll = prefix.install_dll()
            work = prefix.scratch("work")
            os.makedirs(work)
            with open(os.path.join(work, ATTACHMENT), "wb") as f:
                f.write(ATTACHMENT_BYTES)
            with smtp_peer.Server("aiosmtpd", "--lifetime", "300", user=USER, password=PASSWORD,
                                  mechanisms="LOGIN", port=25) as server:
                checks = client_support.run(prefix, "flat_client", wine_prefix.winpath(dll),
                                            wine_prefix.winpath(work), USER, PASSWORD)
                messages = server.messages()
            ordinals = ["ordinal_%d" % n for n in range(1, 27)]
            self.assertClientPassed(checks, ordinals + [
                "unregistered_names_fail", "unregistered_invoke_fails", "registered_names_work",
                "unregister_in_process", "acp_932", "export_sjis_name", "send", "save_send_log"])
            self.assertNoSecret(checks.stdout + checks.stderr, USER, PASSWORD, "the client's output")

            # The ANSI file name reached the file system as Japanese.
            with open(os.path.join(work, "報告.eml"), "rb") as f:
                exported = f.read()
            msg = email.message_from_bytes(exported, policy=email.policy.default)
            self.assertEqual(msg.defects, [])
            self.assertEqual(str(msg["subject"]), SUBJECT)
            self.assertEqual(msg["from"].addresses[0].display_name, "山田 太郎")
            self.assertEqual(msg["from"].addresses[0].addr_spec, "taro@example.jp")
            self.assertEqual(msg["to"].addresses[0].display_name, "田中 花子")
            self.assertEqual(msg.get_body(("plain",)).get_content().replace("\r\n", "\n"), BODY)
            attachments = list(msg.iter_attachments())
            self.assertEqual([a.get_filename() for a in attachments], [ATTACHMENT])
            self.assertEqual(attachments[0].get_payload(decode=True), ATTACHMENT_BYTES)

            self.assertEqual(len(messages), 1, messages)
            sent = messages[0]
            self.assertEqual(sent["auth"], "LOGIN")
            self.assertEqual(sent["rcpt_tos"], ["hanako@example.jp", "hidden@example.jp"])
            raw = base64.b64decode(sent["data"])
            self.assertNotIn(b"hidden@example.jp", raw)
            sent_msg = email.message_from_bytes(raw, policy=email.policy.default)
            self.assertEqual(sent_msg.defects, [])
            self.assertEqual(str(sent_msg["subject"]), SUBJECT)
            self.assertEqual(sent_msg.get_body(("plain",)).get_content().replace("\r\n", "\n"), BODY)

            for name in ("export-log.xml", "send-log.xml"):
                with open(os.path.join(work, name), "rb") as f:
                    log = f.read()
                self.assertNoSecret(log, USER, PASSWORD, name)
                root = ET.fromstring(log)
                if name == "send-log.xml":
                    self.assertIsNotNone(root.find("SendEmail"), log.decode("utf-8", errors="replace"))
            self.assertNoSecret(exported + raw, USER, PASSWORD, "the messages")


if __name__ == "__main__":
    unittest.main()
