"""hanamail compose: Japanese emails in each Japanese charset and UTF-8, judged
by Python's email package (policy=default), zipfile and xml.etree."""
import email
import email.policy
import hashlib
import io
import os
import re
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zipfile

CLI = os.environ.get("HANAMAIL_CLI")

# Characters every one of the four charsets holds (JIS X 0208 and ASCII).
SUBJECT = "会議の資料について（第２回）"
FROM_NAME = "山田 太郎"
TO_NAME = "佐藤 花子"
CC_NAME = "鈴木 一郎"
PLAIN = "山田です。\r\n明日の会議の資料を送ります。\r\nご確認ください。ＡＢＣ abc 123\r\n"
HTML = "<html><body><p>山田です。</p><p><b>明日</b>の会議の資料を送ります。</p></body></html>\r\n"
BINARY = bytes(range(256)) * 8 + "終わり".encode("utf-8")
NOTE_NAME = "メモ.txt"
NOTE_TEXT = "議題：予算と日程\r\n"
CHARSETS = ["iso-2022-jp", "shift_jis", "euc-jp", "utf-8"]

# What the header writer does with a non-ASCII file name; Python notes it but decodes it.
TOLERATED = {"encoded word inside quoted string", "missing trailing whitespace after encoded-word"}
DECLARATION = re.compile(r'<head><META http-equiv="Content-Type" content="text/html;charset=([^"]+)"></head>')


def run(*args, stdin=b""):
    return subprocess.run([CLI, "compose", *args], input=stdin, capture_output=True, timeout=60)


def sha(data):
    return hashlib.sha256(data).hexdigest()


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class ComposeCommand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="hanamail_compose_")
        self.addCleanup(self.dir.cleanup)
        self.text = self.put("本文.txt", PLAIN.encode("utf-8"))
        self.html = self.put("本文.html", HTML.encode("utf-8"))
        self.binary = self.put("報告書.bin", BINARY)

    def path(self, leaf):
        return os.path.join(self.dir.name, leaf)

    def put(self, leaf, data):
        with open(self.path(leaf), "wb") as f:
            f.write(data)
        return self.path(leaf)

    def compose(self, *args, stdin=b""):
        r = run(*args, stdin=stdin)
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        self.assertEqual(r.stderr, b"")
        return self.parse(r.stdout)

    def parse(self, data):
        self.raw = data
        msg = email.message_from_bytes(data, policy=email.policy.default)
        for part in msg.walk():
            self.assertEqual(part.defects, [], part.get_content_type())
            for name, value in part.items():
                found = {str(d) for d in getattr(value, "defects", ())}
                if name.lower() in ("content-type", "content-disposition"):
                    found -= TOLERATED
                self.assertEqual(found, set(), "%s: %s" % (name, value))
        return msg

    def check_addressing(self, msg):
        self.assertEqual(msg["subject"], SUBJECT)
        self.assertEqual([(a.display_name, a.addr_spec) for a in msg["from"].addresses],
                         [(FROM_NAME, "taro@example.com")])
        self.assertEqual([(a.display_name, a.addr_spec) for a in msg["to"].addresses],
                         [(TO_NAME, "hanako@example.jp"), ("", "jiro@example.jp")])
        self.assertEqual([(a.display_name, a.addr_spec) for a in msg["cc"].addresses],
                         [(CC_NAME, "ichiro@example.jp")])
        self.assertEqual([(a.display_name, a.addr_spec) for a in msg["reply-to"].addresses],
                         [("", "office@example.jp")])
        self.assertIsNone(msg["bcc"])
        self.assertNotIn(b"secret@", self.raw)
        self.assertEqual(msg["x-project"], "花見")

    def addressing(self, charset):
        return ["--charset", charset, "--from", "%s <taro@example.com>" % FROM_NAME,
                "--to", "%s <hanako@example.jp>" % TO_NAME, "--to", "jiro@example.jp",
                "--cc", '"%s" <ichiro@example.jp>' % CC_NAME, "--bcc", "secret@example.jp",
                "--reply-to", "office@example.jp", "--subject", SUBJECT, "--header", "X-Project: 花見"]

    def check_text_part(self, part, charset, expected):
        self.assertEqual(part.get_content_charset(), charset)
        self.assertEqual(part.get_content(), expected)

    def test_both_bodies_and_attachments_in_each_charset(self):
        for charset in CHARSETS:
            with self.subTest(charset):
                msg = self.compose(*self.addressing(charset), "--text", self.text, "--html", self.html,
                                   "--attach", self.binary, "--attach-string", NOTE_NAME + "=" + NOTE_TEXT)
                self.check_addressing(msg)
                self.check_text_part(msg.get_body(("plain",)), charset, PLAIN)
                self.check_text_part(msg.get_body(("html",)), charset, HTML)
                attachments = [(a.get_filename(), a.get_content()) for a in msg.iter_attachments()]
                self.assertEqual(len(attachments), 2)
                self.assertEqual(attachments[0], ("報告書.bin", BINARY))
                name, note = attachments[1]
                self.assertEqual(name, NOTE_NAME)
                self.assertEqual(note, NOTE_TEXT)

    def test_zipped_attachments_in_each_charset(self):
        for charset in CHARSETS:
            with self.subTest(charset):
                msg = self.compose(*self.addressing(charset), "--text", self.text, "--attach", self.binary,
                                   "--attach-string", NOTE_NAME + "=" + NOTE_TEXT, "--zip", "資料一式.zip")
                self.check_addressing(msg)
                self.check_text_part(msg.get_body(("plain",)), charset, PLAIN)
                (archive,) = list(msg.iter_attachments())
                self.assertEqual(archive.get_filename(), "資料一式.zip")
                with zipfile.ZipFile(io.BytesIO(archive.get_content())) as z:
                    self.assertIsNone(z.testzip())
                    entries = {i.filename: sha(z.read(i)) for i in z.infolist()}
                self.assertEqual(entries, {"報告書.bin": sha(BINARY), NOTE_NAME: sha(NOTE_TEXT.encode("utf-8"))})

    def test_html_only_from_standard_input(self):
        for charset in CHARSETS:
            with self.subTest(charset):
                msg = self.compose("--charset", charset, "--subject", SUBJECT, "--html", "-",
                                   stdin=HTML.encode("utf-8"))
                self.assertEqual(msg["subject"], SUBJECT)
                self.assertEqual(msg.get_content_type(), "text/html")
                self.assertIsNone(msg.get_body(("plain",)))
                self.assertEqual(msg.get_content_charset(), charset)
                # The HTML gains a declaration of its charset, and only that.
                html = msg.get_content()
                declared = DECLARATION.search(html)
                self.assertIsNotNone(declared, html)
                self.assertEqual(declared.group(1).lower(), charset)
                self.assertEqual(DECLARATION.sub("", html, count=1), HTML)

    def test_charset_chosen_from_text_when_not_given(self):
        msg = self.compose("--subject", SUBJECT, "--text", "-", stdin=PLAIN.encode("utf-8"))
        self.assertEqual(msg["subject"], SUBJECT)
        self.check_text_part(msg, "shift_jis", PLAIN)

    def test_output_file(self):
        out = self.path("出力.eml")
        r = run(*self.addressing("iso-2022-jp"), "--text", self.text, "-o", out)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        with open(out, "rb") as f:
            msg = self.parse(f.read())
        self.check_addressing(msg)
        self.check_text_part(msg, "iso-2022-jp", PLAIN)

    def test_failures_report_the_log(self):
        missing = self.path("missing.pdf")
        log = self.path("log.xml")
        r = run("--to", "a@example.com", "--attach", missing, "--log-xml", log)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"")
        err = r.stderr.decode("utf-8")
        self.assertIn(missing, err)
        self.assertTrue(err.rstrip().endswith("Failed to add file attachment"), err)
        root = ET.parse(log).getroot()
        self.assertEqual(root.tag, "TembrixLog")
        (context,) = list(root)
        self.assertEqual(context.tag, "AddFileAttachment")
        self.assertEqual(context[-1].tag, "error")
        self.assertEqual(context[-1].text, "Failed to add file attachment")

        r = run("--to", "Nobody <>", "--text", self.text)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, b"name: Nobody\r\naddress: \r\nNo Email Address was provided\r\n")

        r = run("--text", missing)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Failed to open file", r.stderr)

        r = run("--text", self.text, "-o", self.path("no_dir/out.eml"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Failed to write EML file.", r.stderr)

    def test_log_of_a_successful_run(self):
        log = self.path("log.xml")
        r = run("--text", self.text, "-o", self.path("ok.eml"), "--log-xml", log)
        self.assertEqual(r.returncode, 0, r.stderr)
        root = ET.parse(log).getroot()
        self.assertEqual(root.tag, "TembrixLog")

    def test_usage_errors(self):
        for args in [("--bogus",), ("positional",), ("--to",), ("--header", "NoColon"),
                     ("--attach-string", "no-equals"), ("--subject", "a", "--subject", "b"),
                     ("--text", "-", "--html", "-"), ("-o", "a", "-o", "b")]:
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual(r.returncode, 2)
                self.assertIn(b"usage", r.stderr)
                self.assertEqual(r.stdout, b"")

    def test_help_names_every_option(self):
        r = run("--help")
        self.assertEqual(r.returncode, 0)
        for option in ["--charset", "--from", "--reply-to", "--to", "--cc", "--bcc", "--subject", "--header",
                       "--text", "--html", "--attach", "--attach-string", "--zip", "-o", "--log-xml", "--help"]:
            self.assertIn(option.encode(), r.stdout)


if __name__ == "__main__":
    unittest.main()
