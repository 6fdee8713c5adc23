"""hanamail compose: Japanese emails in each Japanese charset and UTF-8, judged
by Python's email package (policy=default), zipfile and xml.etree."""
import email
import email.header
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


class ComposeCase(unittest.TestCase):
    """Inputs in a fresh folder, and the tool's email judged by Python."""

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

    def compose(self, *args, stdin=b"", notice=None):
        r = run(*args, stdin=stdin)
        self.assertEqual(r.returncode, 0, r.stderr.decode("utf-8", "replace"))
        # The one thing a successful compose may say: that the charset gave way to UTF-8.
        expected = b"" if notice is None else f"hanamail compose: {notice}\n".encode("utf-8")
        self.assertEqual(r.stderr, expected)
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


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class ComposeCommand(ComposeCase):
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
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"--to: 'Nobody <>' has no address", r.stderr)

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
        for option in ["--charset", "--from", "--reply-to", "--to", "--cc", "--bcc", "--subject", "--date", "--header",
                       "--text", "--html", "--attach", "--attach-string", "--zip", "-o", "--log-xml", "--help"]:
            self.assertIn(option.encode(), r.stdout)



def header_lines(raw):
    return raw.split(b"\r\n\r\n", 1)[0].split(b"\r\n")


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class HostileInput(ComposeCase):
    """Input a new user or a fuzzer gives: each case is either the right email or
    a clear error, never an email that says something else."""

    def compose(self, *args, stdin=b"", notice=None):
        msg = super().compose(*args, stdin=stdin, notice=notice)
        for line in header_lines(self.raw):
            self.assertLessEqual(len(line), 998)
            self.assertFalse(any(b >= 0x7F or (b < 0x20 and b != 9) for b in line), line[:120])
        return msg

    def refused(self, status, *args):
        r = run(*args)
        self.assertEqual(r.returncode, status, (args, r.stderr))
        self.assertEqual(r.stdout, b"")
        return r.stderr.decode("utf-8")

    def test_angle_brackets_outside_address_fields_are_text(self):
        subject = "会議 <taro@example.jp 日本語> です"
        controls = "x <a@b.c\x1b\x07\x7f> y"
        tag = "ü <a@b.c ü>"
        for charset in CHARSETS:
            with self.subTest(charset):
                # ü is in none of the Japanese charsets: that field's words are UTF-8, as the tool says.
                notice = None if charset == "utf-8" else \
                    f"The charset {charset} cannot hold every character; utf-8 is used."
                msg = self.compose("--charset", charset, "--subject", subject, "--header", "X-Tag: " + tag,
                                   "--header", "X-Control: " + controls,
                                   "--to", "山田 <taro@example.jp>", "--cc", "plain@example.jp", notice=notice)
                self.assertEqual(msg["subject"], subject)
                self.assertEqual(msg["x-tag"], tag)
                self.assertEqual(msg["x-control"], controls)
                self.assertEqual([(a.display_name, a.addr_spec) for a in msg["to"].addresses],
                                 [("山田", "taro@example.jp")])
                # An address in an address field stays readable, outside the words.
                self.assertIn(b"<taro@example.jp>", self.raw)

    def test_fields_with_options_of_their_own_are_refused_in_header(self):
        for field, option in [("To", "--to"), ("cc", "--cc"), ("BCC", "--bcc"), ("From", "--from"),
                              ("Reply-To", "--reply-to"), ("Subject", "--subject"), ("Date", "--date")]:
            with self.subTest(field):
                err = self.refused(2, "--header", field + ": hidden@example.com")
                self.assertIn("use " + option, err)
        for name in ["X-Ü", "X Tag", "X-\x01"]:
            with self.subTest(name):
                err = self.refused(2, "--header", name + ": v")
                self.assertIn("not printable ASCII", err)
        self.assertNotIn("\x01", self.refused(2, "--header", "X-\x01: v"))

    def test_dates(self):
        msg = self.compose("--date", "Tue, 08 Dec 2026 09:30:00 +0900", "--subject", "s")
        self.assertEqual(msg["date"].datetime.isoformat(), "2026-12-08T09:30:00+09:00")
        self.assertEqual(self.refused(1, "--date", "garbage").splitlines()[-1], "Invalid date: [garbage]")
        err = self.refused(2, "--date", "Tue, 08 Dec 2026 09:30:00 +0900\r\nBcc: x@evil.example")
        self.assertIn("'Tue, 08 Dec 2026 09:30:00 +0900\\r\\nBcc: x@evil.example'", err)

    def test_addresses_that_are_not_one_usable_mailbox_are_refused(self):
        for option in ["--from", "--reply-to"]:
            with self.subTest(option):
                err = self.refused(1, option, "r@x.com e7@x.com")
                self.assertTrue(err.rstrip().endswith("Invalid email address: [r@x.com e7@x.com]"), err)
                err = self.refused(2, option, "r@x.com\r\ne7@x.com")
                self.assertIn("'r@x.com\\r\\ne7@x.com'", err)
                self.assertNotIn("\r", err)
                self.refused(1, option, "tarö@example.jp")
                self.refused(1, option, "a@x.com, b@y.com")
        for option in ["--to", "--cc", "--bcc"]:
            with self.subTest(option):
                self.assertIn("has no address", self.refused(2, option, "nobody"))
                self.assertIn("\\n", self.refused(2, option, "a@x.com\nBcc: b@y.com"))
                for address in ["taro@日本.jp", "tarö@example.jp", "a b@x.com"]:
                    err = self.refused(1, option, address)
                    self.assertIn("Invalid email address: name = [], address = [%s]" % address, err)

    def test_display_names_are_kept_whole(self):
        text = 'x" <evil@x.com>, "y <f@b.com>'
        msg = self.compose("--from", text, "--to", text, "--reply-to", '"Help, \\"Desk\\"" <r@x.com>')
        for field in ["from", "to"]:
            self.assertEqual([(a.display_name, a.addr_spec) for a in msg[field].addresses],
                             [('x" <evil@x.com>, "y', "f@b.com")])
        self.assertEqual([(a.display_name, a.addr_spec) for a in msg["reply-to"].addresses],
                         [('Help, "Desk"', "r@x.com")])

    def test_text_that_looks_encoded_is_shown_literally(self):
        posing = "=?utf-8?B?ZXZpbC5leGU=?=.txt"
        path = self.put(posing, b"hi")
        for charset in CHARSETS:
            with self.subTest(charset):
                msg = self.compose("--charset", charset, "--subject", posing + " and " + posing, "--attach", path)
                self.assertEqual(msg["subject"], posing + " and " + posing)
                self.assertEqual([a.get_filename() for a in msg.iter_attachments()], [posing])

    def test_a_word_longer_than_a_line_is_read_back_exactly(self):
        word = "".join(chr(0x61 + i % 26) for i in range(120000))
        for charset in CHARSETS:
            with self.subTest(charset):
                msg = self.compose("--charset", charset, "--subject", word)
                self.assertEqual(msg["subject"], word)
        # In an address field too. Python's address parser keeps the blank
        # between adjacent encoded words of a phrase (RFC 2047 says readers
        # drop it), so the name is decoded from the raw field here.
        name = word[:3000]
        msg = self.compose("--from", name + " <a@example.com>", "--to", name + " <b@example.com>")
        raw = email.message_from_bytes(self.raw, policy=email.policy.compat32)
        for field, address in [("From", "a@example.com"), ("To", "b@example.com")]:
            self.assertEqual(msg[field].addresses[0].addr_spec, address)
            phrase, rest = raw[field].rsplit("<", 1)
            self.assertEqual(rest, address + ">")
            decoded = "".join(p.decode(c or "ascii") if isinstance(p, bytes) else p
                              for p, c in email.header.decode_header(phrase))
            self.assertEqual(decoded.strip(), name)

    def test_attachments_of_one_name_get_distinct_zip_entries(self):
        other = os.path.join(self.dir.name, "sub")
        os.mkdir(other)
        first = self.put("report.csv", b"one")
        with open(os.path.join(other, "report.csv"), "wb") as f:
            f.write(b"two")
        msg = self.compose("--attach", first, "--attach", os.path.join(other, "report.csv"),
                           "--attach-string", "report.csv=three", "--attach-string", "invite.ics=four",
                           "--zip", "all.zip")
        (archive,) = list(msg.iter_attachments())
        with zipfile.ZipFile(io.BytesIO(archive.get_content())) as z:
            entries = [(i.filename, z.read(i)) for i in z.infolist()]
        self.assertEqual(entries, [("report.csv", b"one"), ("report (2).csv", b"two"),
                                   ("report (3).csv", b"three"), ("invite.ics", b"four")])
        msg = self.compose("--attach", first, "--attach-string", "invite.ics=x")
        self.assertEqual([a.get_content_type() for a in msg.iter_attachments()], ["text/csv", "text/calendar"])

    def test_echoed_arguments_show_control_characters_escaped(self):
        err = self.refused(2, "--bogus\r\nX: y")
        self.assertIn("'--bogus\\r\\nX: y'", err)
        # The activity log printed on failure escapes them too.
        err = self.refused(1, "--attach", os.path.join(self.dir.name, "no\x1b[31m\rfile"))
        self.assertIn("no\\x1b[31m\\rfile", err)
        self.assertNotIn("\x1b", err)
        self.assertNotIn("\r", err.replace("\r\n", ""))


if __name__ == "__main__":
    unittest.main()
