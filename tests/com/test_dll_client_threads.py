"""Objects of Hanamail.dll on eight apartment threads of one process
(threads.c): released together, each composes in its own charset (the first
use of each charset's tables) and sends to aiosmtpd with AUTH. Every message
arrives and decodes to what its thread composed. No ErrorInfo text holds the
password, nor that of a last send whose login the server refuses.

Sending needs port 25, so the test runs in a network namespace of its own."""
import base64
import email
import email.policy
import os
import unittest

import client_support
from client_support import wine_prefix

wine_prefix.enter_netns(__file__)

import smtp_peer  # noqa: E402

USER = "thread-user"
PASSWORD = "Thr3ad-Pw!z"
TEXTS = [
    ("iso-2022-jp", "日本語の件名です", "本日は晴天なり、よろしくお願いします。"),
    ("shift_jis", "表示ソフトの予定表", "ソース表記と能力の確認。"),
    ("euc-jp", "東京都の天気予報", "明日は雨が降るでしょう。"),
    ("gb2312", "简体中文测试邮件", "我们明天见面讨论这个问题。"),
    ("big5", "繁體中文測試郵件", "請確認附件中的資料。"),
    ("ks_c_5601-1987", "한국어 시험 메일", "안녕하세요, 반갑습니다."),
    ("koi8-r", "Привет из потока", "Съешь же ещё этих мягких булок."),
    ("iso-8859-7", "Καλημέρα κόσμε", "Ξεσκεπάζω την ψυχοφθόρα βδελυγμία."),
]


class ThreadsTest(client_support.ClientTestMixin, unittest.TestCase):
    def test_eight_apartments_send_at_once(self):
        with wine_prefix.Prefix() as prefix:
            dll = prefix.install_dll()
            work = prefix.scratch("work")
            os.makedirs(work)
            with open(os.path.join(work, "texts.txt"), "wb") as f:
                f.write("".join("%s\t%s\t%s\n" % t for t in TEXTS).encode("utf-16-le"))
            self.assertEqual(prefix.regsvr32(dll).returncode, 0)
            with smtp_peer.Server("aiosmtpd", "--lifetime", "300", user=USER, password=PASSWORD,
                                  mechanisms="LOGIN,PLAIN", port=25) as server:
                checks = client_support.run(prefix, "threads", wine_prefix.winpath(work), USER, PASSWORD)
                messages = server.messages()
            expected = ["all_created", "all_finished"] + ["thread_%d_sent" % i for i in range(len(TEXTS))]
            self.assertClientPassed(checks, expected)
            self.assertNoSecret(checks.stdout + checks.stderr, USER, PASSWORD, "the client's output")

            self.assertEqual(len(messages), len(TEXTS))
            by_recipient = {}
            for m in messages:
                self.assertIsNotNone(m["auth"])
                self.assertEqual(len(m["rcpt_tos"]), 1)
                by_recipient[m["rcpt_tos"][0]] = base64.b64decode(m["data"])
            for i, (charset, subject, body) in enumerate(TEXTS):
                with self.subTest(charset=charset):
                    raw = by_recipient.get("rcpt%d@example.com" % i)
                    self.assertIsNotNone(raw, "no message from thread %d" % i)
                    msg = email.message_from_bytes(raw, policy=email.policy.default)
                    self.assertEqual(msg.defects, [])
                    self.assertEqual(str(msg["subject"]), subject)
                    self.assertEqual(msg["from"].addresses[0].addr_spec, "thread%d@example.com" % i)
                    part = msg.get_body(("plain",))
                    self.assertEqual(part.get_content_charset(), charset)
                    self.assertEqual(part.get_content().rstrip("\r\n"), body)
                    self.assertNoSecret(raw, USER, PASSWORD, "message %d" % i)
                    with open(os.path.join(work, "errorinfo-%d.txt" % i), "rb") as f:
                        text = f.read()
                    self.assertIn(b"Connecting to SMTP server", text)
                    self.assertNoSecret(text, USER, PASSWORD, "ErrorInfo of thread %d" % i)

            # The raw server refuses at once, where aiosmtpd lets a failed login wait.
            with smtp_peer.Server("raw", user=USER, password="something-else", mechanisms="PLAIN", port=25) as server:
                checks = client_support.run(prefix, "threads", wine_prefix.winpath(work), USER, PASSWORD, "refused")
                self.assertEqual(server.messages(), [])
            self.assertClientPassed(checks, ["refused_login"])
            self.assertNoSecret(checks.stdout + checks.stderr, USER, PASSWORD, "the client's output")
            with open(os.path.join(work, "errorinfo-refused.txt"), "rb") as f:
                text = f.read()
            self.assertIn(b"Connecting to SMTP server", text)
            self.assertNoSecret(text, USER, PASSWORD, "ErrorInfo of the refused login")


if __name__ == "__main__":
    unittest.main()
