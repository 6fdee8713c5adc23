"""Hanamail objects driven by VBScript and JScript under cscript: every member
with Japanese text through BSTRs, the flag that picks the log ErrorInfo shows,
files in shift_jis, attachments, ZIP, XML, MIME import, page capture and a
send to aiosmtpd with AUTH. One program of calls is written here and run by
both engines; Python's email package judges what they export and send.

Wine's ANSI code page is 1252 here (a UTF-8 locale without a language), so
a file name only UTF-16 can hold must never go through the ANSI form."""
import base64
import email
import email.policy
import io
import os
import re
import sys
import unittest
import xml.etree.ElementTree as ET
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)

import wine_prefix  # noqa: E402

wine_prefix.enter_netns(__file__)

import sample_messages  # noqa: E402
import script_steps  # noqa: E402
import smtp_peer  # noqa: E402
from script_steps import ARRAY, SELF, Program, ref  # noqa: E402

USER = "script-user"
PASSWORD = "Scr1pt-pw!7q"
# Set on the object whose send fails: no log may show it either.
OTHER_PASSWORD = "Other-pw-4k"

SUBJECT = "報告: 𠮷野家の件"  # U+20BB7 is a surrogate pair in a BSTR
FROM = "山田 太郎 <taro@example.jp>"
TO_NAME = "田中 花子"
PLAIN = "田中様\r\nよろしくお願いします。\r\n"
HTML = "<html><body><p>田中様</p><p>よろしくお願いします。</p></body></html>"
REPORT = "報告.txt"
REPORT_BYTES = "報告書の本文です。\n".encode("utf-8") + bytes(range(256))
MEMO = "覚え書き 𠮷 です"
SJIS_TEXT = "日本語のテキスト\r\n二行目：ＡＢＣとｶﾀｶﾅ。"
GIF = (b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00,"
       b"\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;")
CSS = "p { color: #336699 }\n"

CC_LOG = "name: Ann\r\naddress: \r\nNo Email Address was provided\r\n"


def parse(data):
    msg = email.message_from_bytes(data, policy=email.policy.default)
    assert msg.defects == [], msg.defects
    return msg


def imported_mime():
    m, attachment = sample_messages.python_written_mime()
    return m.as_bytes().decode("utf-8"), attachment


class Work:
    """The files one engine's program reads and writes, in a folder of its own."""

    def __init__(self, root, engine):
        self.dir = os.path.join(root, engine)
        os.makedirs(os.path.join(self.dir, "page"))
        with open(self.path(REPORT), "wb") as f:
            f.write(REPORT_BYTES)
        with open(self.path("a.txt"), "wb") as f:
            f.write(b"alpha\n")
        with open(self.path("page", "dot.gif"), "wb") as f:
            f.write(GIF)
        with open(self.path("page", "s.css"), "w", encoding="utf-8") as f:
            f.write(CSS)
        with open(self.path("page", "page.htm"), "w", encoding="utf-8") as f:
            f.write('<html><head><link rel="stylesheet" href="s.css"></head>'
                    '<body><p>ページ</p><img src="dot.gif"></body></html>')

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def win(self, *parts):
        return wine_prefix.winpath(self.path(*parts))

    def read(self, *parts):
        with open(self.path(*parts), "rb") as f:
            return f.read()


def program(w, engine):
    """Every member, with the edge cases worth a look; the keys name what
    ScriptsTest.judge reads back."""
    p = Program()
    # The flag: the log of the mail manager after SendMail and a settings
    # read, that of the email after an email member.
    p.new("f", "Hanamail.Hanamail")
    p.call("f", "AddRecipient", "CC", "  Ann ", "")
    p.get("f", "cc_log", "ErrorInfo")
    p.put("f", "SmtpHost", "127.0.0.2")  # nobody listens there
    p.put("f", "SmtpLogin", USER)
    p.put("f", "SmtpPassword", OTHER_PASSWORD)
    p.call("f", "AddRecipient", "To", "", "a@example.com")
    p.get("f", "failed_send", "SendMail")
    p.get("f", "failed_log", "ErrorInfo")
    p.call("f", "AddRecipient", "To", "Ann", "ann@example.com")
    p.get("f", "to_log", "ErrorInfo")
    p.get("f", "host", "SmtpHost")
    p.get("f", "host_log", "ErrorInfo")
    p.get("f", "login", "SmtpLogin")
    p.get("f", "password", "SmtpPassword")
    p.get("f", "missing", "ReadFile", w.win("missing.txt"), "utf-8")
    p.get("f", "after_read_log", "ErrorInfo")
    p.drop("f")

    # Recipient types, by the versioned ProgID.
    p.new("r", "Hanamail.Hanamail.1")
    p.call("r", "AddRecipient", "bcc", "Hidden", "hidden@example.com")
    p.call("r", "AddRecipient", "Reply", "X", "x@example.com")
    p.get("r", "bcc_log", "ErrorInfo")
    p.call("r", "AddRecipient", "tO", "", "to@example.com")
    p.get("r", "rcpt_xml", "ExportToXML")
    p.get("r", "rcpt_mime", "ExportToMime")

    # Bodies: a second body becomes the alternative of the first.
    for obj, calls in (("alt", ("SetPlainTextBody", "SetHtmlBody")), ("alt2", ("SetHtmlBody", "SetPlainTextBody")),
                       ("html", ("SetHtmlBody",))):
        p.new(obj, "Hanamail.Hanamail")
        p.call(obj, "AddHeaderField", "Subject", obj)
        for member in calls:
            p.call(obj, member, PLAIN if member == "SetPlainTextBody" else HTML)
        p.get(obj, obj + "_mime", "ExportToMime")

    # Japanese everywhere, in UTF-8.
    p.new("jp", "Hanamail.Hanamail")
    p.put("jp", "Charset", "utf-8")
    p.get("jp", "charset", "Charset")
    p.call("jp", "AddHeaderField", "From", FROM)
    p.call("jp", "AddHeaderField", "Subject", SUBJECT)
    p.call("jp", "AddRecipient", "To", TO_NAME, "hanako@example.jp")
    p.call("jp", "AddRecipient", "CC", "鈴木 一郎", "suzuki@example.jp")
    p.call("jp", "SetPlainTextBody", PLAIN)
    p.call("jp", "SetHtmlBody", HTML)
    p.get("jp", "report_ok", "AddFileAttachment", w.win(REPORT))
    p.call("jp", "AddStringAttachment", "メモ.txt", MEMO)
    p.call("jp", "AddDataAttachment", "data.bin", "AB")  # a BSTR gives its UTF-16 units
    p.call("jp", "AddDataAttachment", "self.bin", SELF)  # an object with no default value
    p.call("jp", "AddDataAttachment", "array.bin", ARRAY)  # no bytes of its own
    p.call("jp", "ExportToMimeFile", w.win("書き出し.eml"))
    p.call("jp", "ExportToMimeFile", w.win("no-such-folder", "x.eml"))  # nothing reported
    p.get("jp", "jp_mime", "ExportToMime")

    # A relative name only UTF-16 can hold, under code page 1252; the ANSI
    # code page itself shows in a file written in no known charset.
    p.new("acp", "Hanamail.Hanamail")
    p.get("acp", "relative_ok", "AddFileAttachment", REPORT)
    p.get("acp", "acp_mime", "ExportToMime")
    p.get("acp", "acp_written", "WriteFile", w.win("acp.txt"), "", "é€")

    # Text files in shift_jis.
    p.new("fs", "Hanamail.Hanamail")
    p.get("fs", "sjis_written", "WriteFile", w.win("sjis.txt"), "shift_jis", SJIS_TEXT)
    p.get("fs", "sjis_read", "ReadFile", w.win("sjis.txt"), "shift_jis")

    # ZIP of the attachments, under the default name, in iso-2022-jp.
    p.new("zip", "Hanamail.Hanamail")
    p.get("zip", "zip_a", "AddFileAttachment", w.win("a.txt"))
    p.get("zip", "zip_missing", "AddFileAttachment", w.win("missing.bin"))
    p.call("zip", "ZipAttachments", "")
    p.put("zip", "Charset", "iso-2022-jp")
    p.call("zip", "SetPlainTextBody", "日本語")
    p.call("zip", "ExportToMimeFile", w.win("zip.eml"))

    # XML out of one object and into another.
    p.new("x1", "Hanamail.Hanamail")
    p.call("x1", "AddHeaderField", "Subject", "件名 café")
    p.call("x1", "AddHeaderField", "From", "a@example.com")
    p.call("x1", "AddRecipient", "To", "花子", "hanako@example.jp")
    p.call("x1", "SetPlainTextBody", "本文\r\nsecond line\r\n")
    p.get("x1", "x1_xml", "ExportToXML")
    p.get("x1", "x1_mime", "ExportToMime")
    p.new("x2", "Hanamail.Hanamail")
    p.call("x2", "ImportFromXML", ref("x1_xml"))
    p.get("x2", "x2_mime", "ExportToMime")
    p.call("x2", "ImportFromXML", "<nothing/>")
    p.get("x2", "x2_same", "ExportToMime")

    # MIME written by Python, imported and exported again.
    p.new("mi", "Hanamail.Hanamail")
    p.call("mi", "ImportFromMime", imported_mime()[0])
    p.call("mi", "ExportToMimeFile", w.win("round.eml"))

    # A local page with an image and a style sheet, captured whole.
    p.new("page", "Hanamail.Hanamail")
    p.call("page", "AddRecipient", "To", "", "to@example.com")
    p.get("page", "page_ok", "LoadHtmlComplete", w.win("page", "page.htm"))
    p.call("page", "ExportToMimeFile", w.win("page.eml"))
    p.get("page", "page_missing", "LoadHtmlComplete", w.win("page", "missing.htm"))
    p.call("page", "ExportToMimeFile", w.win("page_after.eml"))

    # A send with AUTH to the test server.
    p.new("send", "Hanamail.Hanamail.1")
    p.put("send", "SmtpHost", "127.0.0.1")
    p.put("send", "SmtpLogin", USER)
    p.put("send", "SmtpPassword", PASSWORD)
    p.call("send", "AddHeaderField", "From", FROM)
    p.call("send", "AddHeaderField", "Subject", SUBJECT + " " + engine)
    p.put("send", "Charset", "utf-8")
    p.call("send", "AddRecipient", "To", TO_NAME, "hanako@example.jp")
    p.call("send", "AddRecipient", "Bcc", "", "hidden@example.jp")
    p.call("send", "SetPlainTextBody", PLAIN)
    p.get("send", "send_report_ok", "AddFileAttachment", w.win(REPORT))
    p.get("send", "sent", "SendMail")
    p.get("send", "sent_log", "ErrorInfo")
    return p


def attachments(msg):
    """{file name: the bytes it carries}."""
    return {a.get_filename(): a.get_payload(decode=True) for a in msg.iter_attachments()}


def as_bytes(content):
    return content.encode("utf-8") if isinstance(content, str) else content


class ScriptsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = wine_prefix.Prefix(extra_env={"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8"})
        cls.dll = cls.prefix.install_dll()
        r = cls.prefix.regsvr32(cls.dll)
        if r.returncode != 0:
            raise RuntimeError("regsvr32 failed: %r" % r.stderr[-2000:])

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def no_secret(self, data, where):
        for s in smtp_peer.secrets(USER, PASSWORD) + smtp_peer.secrets(USER, OTHER_PASSWORD):
            self.assertNotIn(s, data, "a password shows in %s" % where)

    def test_both_engines(self):
        with smtp_peer.Server("aiosmtpd", user=USER, password=PASSWORD, mechanisms="LOGIN", port=25) as server:
            for n, engine in enumerate(("vbscript", "jscript")):
                with self.subTest(engine=engine):
                    w = Work(self.prefix.scratch("work"), engine)
                    result = script_steps.run(self.prefix, engine, program(w, engine), w.path("out"), cwd=w.dir)
                    self.no_secret(result.process.stdout + result.process.stderr, "the cscript output")
                    for name in os.listdir(w.dir):
                        if name.endswith(".eml"):
                            self.no_secret(w.read(name), name)
                    for key, (_, text) in result.values.items():
                        if key != "password":
                            self.no_secret(text.encode("utf-8"), key)
                    self.assertEqual(result.errors, "")
                    self.judge(result, w)
                    self.judge_send(result, server.messages(), n, engine)

    def judge(self, r, w):
        # The flag and ErrorInfo.
        self.assertEqual(r["cc_log"], CC_LOG)
        self.assertEqual((r.kind("failed_send"), r["failed_send"]), ("number", "0"))
        self.assertIn("Failed to connect to SMTP server.", r["failed_log"])
        self.assertIn("\r\n", r["failed_log"])
        self.assertEqual(r["to_log"], "name: Ann\r\naddress: ann@example.com\r\n")
        self.assertEqual(r["host"], "127.0.0.2")
        self.assertEqual(r["host_log"], r["failed_log"])
        self.assertEqual(r["login"], USER)
        # Compared without assertEqual, which would print it.
        self.assertTrue(r["password"] == OTHER_PASSWORD, "SmtpPassword reads back another value")
        # A missing file: a null BSTR, which the engines show as an empty string.
        self.assertIn(r.kind("missing"), ("string", "null", "empty"))
        self.assertEqual(r["missing"], "")
        self.assertEqual(r["after_read_log"], r["to_log"])

        # "bcc" in lower case is a Bcc; "Reply" is nothing and logs nothing.
        self.assertEqual(r["bcc_log"], "name: Hidden\r\naddress: hidden@example.com\r\n")
        self.assertIn("hidden@example.com", r["rcpt_xml"])
        self.assertNotIn("x@example.com", r["rcpt_xml"])
        msg = parse(r["rcpt_mime"].encode("utf-8"))
        self.assertEqual(str(msg["to"]), "to@example.com")
        self.assertNotIn("hidden@example.com", r["rcpt_mime"])
        self.assertNotIn("x@example.com", r["rcpt_mime"])

        # Two bodies make an alternative in either order; HTML alone stays alone.
        for key in ("alt_mime", "alt2_mime"):
            msg = parse(r[key].encode("utf-8"))
            self.assertEqual(msg.get_content_type(), "multipart/alternative", key)
            self.assertEqual(sorted(p.get_content_type() for p in msg.iter_parts()), ["text/html", "text/plain"])
            self.assertEqual(msg.get_body(("plain",)).get_content().replace("\r\n", "\n"), PLAIN.replace("\r\n", "\n"))
            self.assertIn("<p>田中様</p>", msg.get_body(("html",)).get_content())
        msg = parse(r["html_mime"].encode("utf-8"))
        self.assertEqual(msg.get_content_type(), "text/html")
        self.assertFalse(msg.is_multipart())

        # Japanese through BSTRs, in the file and in the returned text alike.
        self.assertEqual(r["charset"], "utf-8")
        self.assertEqual(r["report_ok"], "1")
        for where, data in (("file", w.read("書き出し.eml")), ("text", r["jp_mime"].encode("utf-8"))):
            with self.subTest(export=where):
                msg = parse(data)
                self.assertEqual(str(msg["subject"]), SUBJECT)
                self.assertEqual(msg["from"].addresses[0].display_name, "山田 太郎")
                self.assertEqual(msg["to"].addresses[0].display_name, TO_NAME)
                self.assertEqual(msg["cc"].addresses[0].display_name, "鈴木 一郎")
                self.assertEqual(msg.get_body(("plain",)).get_content().replace("\r\n", "\n"),
                                 PLAIN.replace("\r\n", "\n"))
                self.assertIn("<p>田中様</p>", msg.get_body(("html",)).get_content())
                got = attachments(msg)
                self.assertEqual(as_bytes(got[REPORT]), REPORT_BYTES)
                self.assertEqual(as_bytes(got["メモ.txt"]).decode("utf-8"), MEMO)
                self.assertEqual(as_bytes(got["data.bin"]), b"A\0B\0")
                # Neither an object nor a VARIANT array gives bytes (no raw VARIANTs).
                self.assertEqual(as_bytes(got.get("self.bin", b"")), b"")
                self.assertEqual(as_bytes(got.get("array.bin", b"")), b"")

        self.assertFalse(os.path.exists(w.path("no-such-folder")))

        # The ANSI code page is 1252, and the name kept its own letters.
        self.assertEqual(w.read("acp.txt"), "é€".encode("cp1252"))
        self.assertEqual(r["relative_ok"], "1")
        got = attachments(parse(r["acp_mime"].encode("utf-8")))
        self.assertEqual(list(got), [REPORT])
        self.assertEqual(as_bytes(got[REPORT]), REPORT_BYTES)

        # shift_jis: Python's bytes, and back.
        self.assertEqual(r["sjis_written"], "1")
        self.assertEqual(w.read("sjis.txt"), SJIS_TEXT.encode("shift_jis"))
        self.assertEqual(r["sjis_read"], SJIS_TEXT)

        # ZIP.
        self.assertEqual((r["zip_a"], r["zip_missing"]), ("1", "0"))
        raw = w.read("zip.eml")
        msg = parse(raw)
        got = attachments(msg)
        self.assertEqual(list(got), ["attach.zip"])
        with zipfile.ZipFile(io.BytesIO(got["attach.zip"])) as z:
            self.assertEqual(z.namelist(), ["a.txt"])
            self.assertEqual(z.read("a.txt"), b"alpha\n")
        self.assertIn(b"iso-2022-jp", raw.lower())
        self.assertEqual(msg.get_body(("plain",)).get_content().strip(), "日本語")

        # XML: the copy has the original's fields and body; no email in the
        # text leaves the email as it was.
        ET.fromstring(r["x1_xml"].encode("utf-8"))  # a text without an XML declaration
        self.assertFalse(r["x1_xml"].startswith("<?xml"))
        before, after, same = (parse(r[k].encode("utf-8")) for k in ("x1_mime", "x2_mime", "x2_same"))
        for field in ("subject", "from", "to"):
            self.assertEqual(str(after[field]), str(before[field]), field)
        self.assertEqual(str(after["subject"]), "件名 café")
        self.assertEqual(after.get_content(), before.get_content())
        self.assertEqual(str(same["subject"]), str(before["subject"]))

        # MIME import.
        _, attachment = imported_mime()
        got = parse(w.read("round.eml"))
        self.assertEqual(str(got["subject"]), "来週の打ち合わせについて")
        self.assertEqual(got.get_body(("plain",)).get_content().replace("\r\n", "\n"), "田中様\nよろしくお願いします。\n")
        self.assertIn("<p>田中様</p>", got.get_body(("html",)).get_content())
        self.assertEqual(attachments(got), {"資料.bin": attachment})

        # Page capture: the page first, then every part its cid: references name.
        self.assertEqual((r["page_ok"], r["page_missing"]), ("1", "0"))
        raw = w.read("page.eml")
        msg = parse(raw)
        self.assertEqual(msg.get_content_type(), "multipart/related")
        self.assertEqual(str(msg["to"]), "to@example.com")
        parts = list(msg.iter_parts())
        html = parts[0].get_content()
        self.assertEqual(parts[0].get_content_type(), "text/html")
        self.assertIn("ページ", html)
        cids = {p["Content-ID"].strip("<>"): p for p in parts[1:] if p["Content-ID"]}
        refs = re.findall(r"cid:([^\"')&\s>]+)", html)
        self.assertTrue(refs, html)
        for cid in refs:
            self.assertIn(cid, cids)
        contents = [as_bytes(p.get_content()) for p in cids.values()]
        self.assertIn(GIF, contents)
        self.assertTrue(any(CSS.encode() in c for c in contents) or "#336699" in html, "the style sheet is lost")
        self.assertEqual(w.read("page_after.eml"), raw)

    def judge_send(self, r, messages, n, engine):
        self.assertEqual((r["send_report_ok"], r["sent"]), ("1", "1"), r["sent_log"])
        self.assertEqual(len(messages), n + 1)
        m = messages[n]
        self.assertEqual(m["auth"], "LOGIN")
        self.assertEqual(m["rcpt_tos"], ["hanako@example.jp", "hidden@example.jp"])
        data = base64.b64decode(m["data"])
        self.no_secret(data, "the message sent")
        self.assertNotIn(b"hidden@example.jp", data)
        msg = parse(data)
        self.assertEqual(str(msg["subject"]), SUBJECT + " " + engine)
        self.assertEqual(msg["to"].addresses[0].display_name, TO_NAME)
        self.assertEqual(msg.get_body(("plain",)).get_content().replace("\r\n", "\n"), PLAIN.replace("\r\n", "\n"))
        self.assertEqual(as_bytes(attachments(msg)[REPORT]), REPORT_BYTES)


if __name__ == "__main__":
    unittest.main()
