"""hanamail compose and file read on text as real systems store it: LF and CR
line ends, bytes that are not UTF-8, files in a legacy charset or with a
byte-order mark, and characters the charset asked for lacks. Emails are judged
by Python's email package (policy=default): no defects, and the text read back
as it went in. The writer's own rules (JIS forms, labels) are judged through
the library in tests/component/ClsEmailTextJudgeTest.cpp."""
import email
import email.policy
import os
import subprocess
import tempfile
import unittest

CLI = os.environ.get("HANAMAIL_CLI")
CHARSETS = ["iso-2022-jp", "shift_jis", "euc-jp", "utf-8"]
JAPANESE = CHARSETS[:3]
TOLERATED = {"encoded word inside quoted string", "missing trailing whitespace after encoded-word"}



def run(*args, stdin=b""):
    return subprocess.run([CLI, *args], input=stdin, capture_output=True, timeout=60)


def bare_line_end(data):
    rest = data.replace(b"\r\n", b"")
    return b"\r" in rest or b"\n" in rest


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class ComposeText(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="hanamail_text_")
        self.addCleanup(self.dir.cleanup)

    def put(self, leaf, data):
        path = os.path.join(self.dir.name, leaf)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def compose(self, *args, stdin=b"", notice=None):
        r = run("compose", "--to", "taro@example.jp", *args, stdin=stdin)
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        self.assertEqual(r.stderr.decode("utf-8"), "" if notice is None else "hanamail compose: %s\n" % notice)
        self.assertFalse(bare_line_end(r.stdout), "a bare CR or LF in the message")
        msg = email.message_from_bytes(r.stdout, policy=email.policy.default)
        for part in msg.walk():
            self.assertEqual(part.defects, [], part.get_content_type())
            for name, value in part.items():
                found = {str(d) for d in getattr(value, "defects", ())}
                if name.lower() in ("content-type", "content-disposition"):
                    found -= TOLERATED
                self.assertEqual(found, set(), "%s: %s" % (name, value))
        self.raw = r.stdout
        return msg

    def refused(self, *args, status=1):
        r = run("compose", "--to", "taro@example.jp", *args)
        self.assertEqual(r.returncode, status, r.stderr)
        self.assertEqual(r.stdout, b"")
        return r.stderr.decode("utf-8")

    def body(self, msg, kind="plain"):
        part = msg.get_body((kind,))
        self.assertIsNotNone(part, kind)
        self.assertFalse(bare_line_end(part.get_payload(decode=True)))
        return part, part.get_content().replace("\r\n", "\n")

    def test_line_ends_of_any_system_become_crlf(self):
        text = "一行目\n二行目\r三行目\r\n\n四行目\r\r五\n"
        html = "<p>一</p>\n<p>二</p>\r<p>三</p>\n"
        for charset in CHARSETS:
            for stdin in (False, True):
                with self.subTest(charset=charset, stdin=stdin):
                    t = self.put("lf.txt", text.encode("utf-8"))
                    h = self.put("lf.html", html.encode("utf-8"))
                    args = ["--charset", charset, "--subject", "行末", "--text", "-" if stdin else t, "--html", h,
                            "--attach-string", "メモ.txt=x\ny\rz"]
                    msg = self.compose(*args, stdin=text.encode("utf-8") if stdin else b"")
                    part, got = self.body(msg)
                    self.assertEqual(got, "一行目\n二行目\n三行目\n\n四行目\n\n五\n")
                    self.assertEqual(part.get_content_charset(), charset)
                    _, got = self.body(msg, "html")
                    self.assertIn("<p>一</p>\n<p>二</p>\n<p>三</p>", got)
                    note = next(a for a in msg.iter_attachments() if a.get_filename() == "メモ.txt")
                    self.assertEqual(note.get_payload(decode=True), b"x\r\ny\r\nz")

    def test_binary_attachments_keep_their_line_ends(self):
        data = b"a\nb\rc\r\n\x00\xff"
        msg = self.compose("--text", self.put("t.txt", b"text\n"), "--attach", self.put("raw.bin", data))
        files = {a.get_filename(): a.get_payload(decode=True) for a in msg.iter_attachments()}
        self.assertEqual(files, {"raw.bin": data})

    def test_text_that_is_not_utf8_is_refused(self):
        cases = [
            ("body.txt", b"Dear \xe5\xb1\xb1\xe7\x94\xb0 \x93quoted\x94", 12, 0x93),  # Windows-1252 quotes
            ("cesu.txt", b"ok \xed\xa0\x80", 3, 0xED),
            ("cut.txt", "日本".encode("utf-8")[:-1], 3, 0xE6),
            ("sjis.txt", "本文です".encode("shift_jis"), 0, 0x96),
        ]
        for leaf, data, offset, byte in cases:
            with self.subTest(leaf=leaf):
                path = self.put(leaf, data)
                for option in ("--text", "--html"):
                    err = self.refused(option, path)
                    self.assertEqual(err, "hanamail compose: %s is not UTF-8 (byte 0x%02X at offset %d); give %s-charset NAME\n"
                                     % (path, byte, offset, option))
        r = run("compose", "--text", "-", stdin=b"ab\xffc")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, b"hanamail compose: standard input is not UTF-8 (byte 0xFF at offset 2); give --text-charset NAME\n")

    @unittest.skipIf(CLI and CLI.endswith(".exe"), "arguments are ANSI text on Windows")
    def test_arguments_that_are_not_utf8_are_refused(self):
        for option, value in (("--subject", b"x\xffy"), ("--to", b"\xe6\x97@x.jp"), ("--header", b"X-Tag: \xc0\xaf"),
                              ("--attach-string", b"n\x93.txt=t")):
            with self.subTest(option=option):
                r = subprocess.run([CLI.encode(), b"compose", option.encode(), value], capture_output=True, timeout=30)
                self.assertEqual(r.returncode, 1)
                self.assertTrue(r.stderr.startswith(("hanamail compose: %s is not UTF-8 (byte 0x" % option).encode()),
                                r.stderr)

    def test_bodies_stored_in_another_charset(self):
        text = "山田です。\n明日の会議〜資料\n"
        html = "<p>会議の資料</p>"
        for charset in CHARSETS:
            with self.subTest(charset=charset):
                t = self.put("sjis.txt", text.encode("shift_jis"))
                h = self.put("euc.html", html.encode("euc_jp"))
                msg = self.compose("--charset", charset, "--text", t, "--text-charset", "shift_jis",
                                   "--html", h, "--html-charset", "euc-jp")
                _, got = self.body(msg)
                # Shift_JIS is read as Windows reads it (8160 is U+FF5E), and
                # written back the same way: a JIS-based reader sees U+301C.
                self.assertEqual(got, text.replace("〜", "\uff5e") if charset == "utf-8" else text)
                _, got = self.body(msg, "html")
                self.assertIn(html, got)
        msg = self.compose("--text", "-", "--text-charset", "euc-jp", stdin=html.encode("euc_jp"))
        self.assertEqual(self.body(msg)[1], html)

    def test_byte_order_marks_decide_the_encoding(self):
        text = "本文 ＡＢＣ 😀\n二行目\n"
        encodings = [("utf-16le", b"\xff\xfe"), ("utf-16be", b"\xfe\xff"), ("utf-8", b"\xef\xbb\xbf")]
        for codec, mark in encodings:
            data = mark + text.encode(codec)
            with self.subTest(codec=codec):
                path = self.put("marked.txt", data)
                for extra in ([], ["--text-charset", "shift_jis"]):
                    msg = self.compose("--charset", "utf-8", "--text", path, *extra)
                    self.assertEqual(self.body(msg)[1], text)
                msg = self.compose("--charset", "utf-8", "--text", "-", stdin=data)
                self.assertEqual(self.body(msg)[1], text)
                msg = self.compose("--charset", "utf-8", "--html", path)
                self.assertIn("本文 ＡＢＣ 😀", self.body(msg, "html")[1])
                for charset in ("", "shift_jis", "utf-8"):
                    r = run("file", "read", "--charset", charset, path)
                    self.assertEqual(r.returncode, 0, r.stderr)
                    self.assertEqual(r.stdout.decode("utf-8"), text)

    def test_characters_the_charset_lacks_fall_back_to_utf8_and_say_so(self):
        for charset in JAPANESE:
            with self.subTest(charset=charset):
                notice = "The charset %s cannot hold every character; utf-8 is used." % charset
                msg = self.compose("--charset", charset, "--subject", "会議😀",
                                   "--text", self.put("e.txt", "本文😀".encode("utf-8")), notice=notice)
                self.assertEqual(msg["subject"], "会議😀")
                part, got = self.body(msg)
                self.assertEqual((part.get_content_charset(), got), ("utf-8", "本文😀"))

    def test_unknown_charsets_are_usage_errors(self):
        t = self.put("t.txt", b"text")
        for args in (["--charset", "klingon"], ["--text-charset", "klingon"], ["--charset", ""]):
            with self.subTest(args=args):
                err = self.refused("--text", t, *args, status=2)
                self.assertIn("unknown charset", err)


if __name__ == "__main__":
    unittest.main()
