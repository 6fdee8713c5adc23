"""The VBScript and JScript samples under examples/ run under cscript against
aiosmtpd with AUTH, and what arrives is what they composed."""
import base64
import email
import email.policy
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))

import wine_prefix  # noqa: E402

wine_prefix.enter_netns(__file__)

import smtp_peer  # noqa: E402

SOURCE = os.environ.get("HANAMAIL_SOURCE_DIR", os.path.join(HERE, "..", ".."))
USER = "sample-user"
PASSWORD = "Sampl3-pw!x"
ATTACHMENT = "報告書.txt"
ATTACHMENT_BYTES = "添付ファイルの中身\r\n".encode("utf-8") + bytes(range(256))


def vbscript_message():
    with open(os.path.join(SOURCE, "examples", "vbscript", "message.txt"), encoding="utf-8") as f:
        subject, _, body = f.read().partition("\n")
    return subject.rstrip("\r"), body


SAMPLES = {
    "vbscript": (os.path.join(SOURCE, "examples", "vbscript", "hanamail_sample.vbs"), vbscript_message()),
    "jscript": (os.path.join(SOURCE, "examples", "jscript", "hanamail_sample.js"),
                ("週次報告のお知らせ", "各位\r\n\r\n今週の報告を添付します。\r\nよろしくお願いします。\r\n")),
}


class SamplesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = wine_prefix.Prefix(extra_env={"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"})
        r = cls.prefix.regsvr32(cls.prefix.install_dll())
        if r.returncode != 0:
            raise RuntimeError("regsvr32 failed: %r" % r.stderr[-2000:])
        cls.attachment = cls.prefix.scratch(ATTACHMENT)
        with open(cls.attachment, "wb") as f:
            f.write(ATTACHMENT_BYTES)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def sample(self, engine, host, to):
        script, _ = SAMPLES[engine]
        r = self.prefix.run(["cscript", "//nologo", wine_prefix.winpath(script), host, USER, "taro@example.jp", to,
                             wine_prefix.winpath(self.attachment)], env={"HANAMAIL_SMTP_PASSWORD": PASSWORD})
        for s in smtp_peer.secrets(USER, PASSWORD):
            self.assertNotIn(s, r.stdout + r.stderr)
        return r

    def test_samples_send(self):
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN", port=25) as server:
            for n, engine in enumerate(sorted(SAMPLES)):
                with self.subTest(engine=engine):
                    to = "%s@example.jp" % engine
                    r = self.sample(engine, "127.0.0.1", to)
                    self.assertIn(b"hanamail sample: sent to " + to.encode(), r.stdout, r.stdout)
                    msgs = server.messages()
                    self.assertEqual(len(msgs), n + 1)
                    self.assertEqual(msgs[n]["auth"], "LOGIN")
                    self.assertEqual(msgs[n]["rcpt_tos"], [to])
                    data = base64.b64decode(msgs[n]["data"])
                    for s in smtp_peer.secrets(USER, PASSWORD):
                        self.assertNotIn(s, data)
                    msg = email.message_from_bytes(data, policy=email.policy.default)
                    self.assertEqual(msg.defects, [])
                    subject, body = SAMPLES[engine][1]
                    self.assertEqual(str(msg["subject"]), subject)
                    self.assertEqual(str(msg["to"]), to)
                    self.assertEqual(msg.get_body(("plain",)).get_content().replace("\r\n", "\n"),
                                     body.replace("\r\n", "\n"))
                    atts = list(msg.iter_attachments())
                    self.assertEqual([a.get_filename() for a in atts], [ATTACHMENT])
                    self.assertEqual(atts[0].get_payload(decode=True), ATTACHMENT_BYTES)

    def test_a_failed_send_shows_the_log_but_no_password_and_usage_exits_2(self):
        # Nothing listens on 127.0.0.2 in this namespace.
        for engine in sorted(SAMPLES):
            with self.subTest(engine=engine):
                r = self.sample(engine, "127.0.0.2", "nobody@example.jp")
                self.assertNotIn(b"hanamail sample: sent", r.stdout)
                self.assertIn(b"the send failed:", r.stdout)
                self.assertIn(b"Failed to connect to SMTP server.", r.stdout)
                self.assertEqual(r.returncode, 1)
                r = self.prefix.run(["cscript", "//nologo", wine_prefix.winpath(SAMPLES[engine][0])])
                self.assertIn(b"usage:", r.stdout)
                self.assertEqual(r.returncode, 2)


if __name__ == "__main__":
    unittest.main()
