"""gb18030 and hz-gb-2312 through hanamail convert, compose and show, judged by
Python's gb18030 and hz codecs and its email package."""
import base64
import email
import email.policy
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_show import our_view, python_view  # noqa: E402

CLI = os.environ.get("HANAMAIL_CLI")

# The two GB 2312 cells that HZ (like gb2312 and gb18030 here) reads as the 936
# table does, where Python's gb2312 reads other dashes and dots.
HZ_READS = {"\u2015": "\u2014", "\u30fb": "\u00b7"}

SUBJECT = "关于会议资料的通知（第二次）"
FROM_NAME = "王 小明"
PLAIN = "各位好：\r\n附件是明天会议的资料，请查收。ＡＢＣ abc 123 ~ 波浪号\r\n谢谢！\r\n"
HTML = "<html><body><p>各位好：</p><p><b>明天</b>会议的资料。</p></body></html>\r\n"
# Beyond GB 2312: characters gb18030 writes in four bytes, one of them beyond the BMP.
GB18030_ONLY = "Ǹ€ä 𠀀 ‖"


def convert(frm, to, data):
    return subprocess.run([CLI, "convert", "--from", frm, "--to", to], input=data, capture_output=True,
                          timeout=300)


def bmp(codec):
    chars = []
    for cp in range(0x10000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        try:
            chr(cp).encode(codec)
        except UnicodeEncodeError:
            continue
        chars.append(chr(cp))
    return "".join(chars)


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class Gb18030Text(unittest.TestCase):
    def both_ways(self, text, unicode_form="utf-8"):
        expected = text.encode("gb18030")
        name = unicode_form.replace("-le", "le")
        r = convert(name, "gb18030", text.encode(unicode_form))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout == expected, "%s to gb18030 differs from Python" % unicode_form)
        r = convert("gb18030", name, expected)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout == text.encode(unicode_form), "gb18030 to %s differs from Python" % unicode_form)

    def test_every_bmp_character_matches_python(self):
        text = bmp("gb18030")
        self.assertEqual(len(text), 0x10000 - 0x800)
        self.both_ways(text)
        self.both_ways(text, "utf-16-le")

    def test_every_character_beyond_the_bmp_matches_python(self):
        self.both_ways("".join(chr(cp) for cp in range(0x10000, 0x110000)))

    def test_characters_one_at_a_time_agree_on_every_code_length(self):
        for ch in "A\x7f\x80€中\ue5e5\u00e4\uffff\U00010000\U0010ffff":
            with self.subTest(ch=hex(ord(ch))):
                r = convert("utf-8", "gb18030", ch.encode())
                self.assertEqual(r.stdout.hex(" "), ch.encode("gb18030").hex(" "))

    def test_broken_bytes_are_dropped_one_at_a_time(self):
        cases = [
            (b"a\x80b\xffc", "abc"),                  # never a lead byte
            (b"\xd6\xd0\xd6", "中"),                   # a lead cut off by the end
            (b"\x81\x7f!", "\x7f!"),                  # 7F never follows a lead
            (b"\x81\x30\x81", "0"),                   # a four-byte code cut off
            (b"\x84\x31\xa5\x30x", "10x"),             # past the BMP numbers; A5 30 x is cut off
            (b"\xe3\x32\x9a\x36", "26"),                # past U+10FFFF
            (b"\x81\x30\x81\x30\x85", "\x80"),
        ]
        for data, text in cases:
            with self.subTest(data=data.hex(" ")):
                # Losses count in the step into Unicode, so UTF-16 shows them.
                r = convert("gb18030", "utf-16le", data)
                self.assertEqual((r.returncode, r.stdout.decode("utf-16-le")), (1, text))

    def test_a_surrogate_alone_is_dropped(self):
        data = "a".encode("utf-16-le") + b"\x00\xd8" + "中".encode("utf-16-le") + b"\x00\xdc"
        r = convert("utf-16le", "gb18030", data)
        self.assertEqual((r.returncode, r.stdout), (1, b"a\xd6\xd0"))

    def test_other_code_pages_meet_it_in_unicode(self):
        japanese = "日本語のメール"
        r = convert("gb18030", "iso-2022-jp", japanese.encode("gb18030"))
        self.assertEqual((r.returncode, r.stdout), (0, japanese.encode("iso-2022-jp")))
        r = convert("shift_jis", "gb18030", japanese.encode("cp932"))
        self.assertEqual((r.returncode, r.stdout), (0, japanese.encode("gb18030")))
        r = convert("gb18030", "gb2312", "中文€".encode("gb18030"))
        self.assertEqual((r.returncode, r.stdout), (0, b"\xd6\xd0\xce\xc4\x80"))
        r = convert("gb18030", "utf-7", "中".encode("gb18030"))
        self.assertEqual((r.returncode, r.stdout), (0, b"+Ti0-"))


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class HzText(unittest.TestCase):
    def test_every_gb2312_character_matches_python(self):
        text = bmp("hz")
        self.assertEqual(len(text), 128 + 7445)
        # Each character both alone and in runs, so every switch shows.
        text = text + "".join(c + "a" for c in text if ord(c) >= 0x80)
        expected = text.encode("hz")
        r = convert("utf-8", "hz-gb-2312", text.encode())
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout == expected, "UTF-8 to hz-gb-2312 differs from Python")
        r = convert("hz-gb-2312", "utf-8", expected)
        self.assertEqual(r.returncode, 0, r.stderr)
        read = "".join(HZ_READS.get(c, c) for c in text)
        self.assertTrue(r.stdout == read.encode(), "hz-gb-2312 to UTF-8 differs from Python")

    def test_line_ends_and_tildes_as_python_writes_them(self):
        text = "中文~\r\n~{ 行\n末尾中\r\n\r\n~~ ab 中~文"
        r = convert("utf-8", "hz-gb-2312", text.encode())
        self.assertEqual((r.returncode, r.stdout), (0, text.encode("hz")))
        r = convert("hz-gb-2312", "utf-8", text.encode("hz"))
        self.assertEqual((r.returncode, r.stdout.decode()), (0, text))

    def test_reading_rules(self):
        cases = [
            (b"~{VP~}~\nab~~c", "中ab~c", 0),          # "~" line end joins the lines
            (b"~{VP\r\nab", "中\r\nab", 0),              # a line end ends GB mode
            (b"~{VP ND~}", "中 文", 0),
            (b"a~xb~", "axb", 1),                       # a stray tilde is dropped
            (b"\xd6\xd0a", "a", 1),                     # 8-bit bytes are not HZ
            (b"~{VP!", "中", 1),                        # a lone byte in GB mode
            (b"~{\"!", "", 1),                          # A2A1 is GBK, not GB 2312: dropped a byte at a time
            (b"~{VP!~}", "中\u3013", 1),                 # "!~" is a pair (A1FE); "}" is then alone
        ]
        for data, text, status in cases:
            with self.subTest(data=data):
                r = convert("hz-gb-2312", "utf-16le", data)
                self.assertEqual((r.returncode, r.stdout.decode("utf-16-le")), (status, text))

    def test_characters_outside_gb2312_are_dropped(self):
        r = convert("utf-8", "hz-gb-2312", "中€文ⅰ".encode())
        self.assertEqual((r.returncode, r.stdout), (1, "中€文ⅰ".encode("hz", "ignore")))


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class ChineseEmails(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="hanamail_gb_")
        self.addCleanup(self.dir.cleanup)

    def put(self, leaf, data):
        path = os.path.join(self.dir.name, leaf)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def compose(self, charset, plain):
        r = subprocess.run([CLI, "compose", "--charset", charset, "--from", "%s <wang@example.cn>" % FROM_NAME,
                            "--to", "li@example.cn", "--subject", SUBJECT + " " + plain.split("\r\n")[0],
                            "--text", self.put("body.txt", plain.encode()),
                            "--html", self.put("body.html", HTML.encode())], capture_output=True, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        return r.stdout

    def test_written_by_us_read_by_python(self):
        for charset, extra in (("gb18030", GB18030_ONLY), ("hz-gb-2312", "~{ 中~文 }~")):
            with self.subTest(charset):
                plain = extra + "\r\n" + PLAIN
                data = self.compose(charset, plain)
                msg = email.message_from_bytes(data, policy=email.policy.default)
                for part in msg.walk():
                    self.assertEqual(part.defects, [])
                self.assertEqual(msg["subject"], SUBJECT + " " + extra)
                self.assertEqual(msg["from"].addresses[0].display_name, FROM_NAME)
                self.assertIn(b"=?%s?B?" % charset.encode(), data)
                for kind, text in (("plain", plain), ("html", HTML)):
                    part = msg.get_body((kind,))
                    self.assertEqual(part.get_content_charset(), charset)
                    # Mostly non-ASCII (gb18030) or full of shifts (HZ): both go out in base64.
                    self.assertEqual(part["content-transfer-encoding"], "base64")
                    self.assertEqual(part.get_content(), text)
                # And our own reader agrees.
                r = subprocess.run([CLI, "show", "--json", self.put("ours.eml", data)], capture_output=True)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(our_view(r.stdout), python_view(data))

    def test_written_by_python_read_by_us(self):
        for charset, extra, cte in (("gb18030", GB18030_ONLY, "8bit"), ("hz-gb-2312", "~~ 中", "7bit")):
            with self.subTest(charset):
                subject = SUBJECT + " " + extra
                body = extra + "\r\n" + PLAIN
                word = base64.b64encode(subject.encode(charset)).decode()
                name = base64.b64encode(FROM_NAME.encode(charset)).decode()
                data = ("From: =?%s?B?%s?= <wang@example.cn>\r\nTo: li@example.cn\r\n"
                        "Subject: =?%s?B?%s?=\r\nDate: Wed, 09 Dec 2026 09:30:00 +0800\r\n"
                        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=%s\r\n"
                        "Content-Transfer-Encoding: %s\r\n\r\n" % (charset, name, charset, word, charset, cte)
                        ).encode() + body.encode(charset)
                python = python_view(data)
                self.assertEqual((python["subject"], python["text"]), (subject, body.replace("\r\n", "\n")))
                r = subprocess.run([CLI, "show", "--json", self.put("theirs.eml", data)], capture_output=True)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(our_view(r.stdout), python)


if __name__ == "__main__":
    unittest.main()
