"""The flat C functions through ctypes, against the built libhanamail.so.
Emails are judged by Python's email package, logs by an XML parser."""
import email
import email.policy
import os
import socket
import subprocess
import sys
import tempfile
import unittest

from flat_support import b, load, log_xml, saved_email, HERE, LIBRARY
import sample_messages  # noqa: E402 (tests/support, put on the path by flat_support)

lib = load()


def port25_answers():
    with socket.socket() as s:
        s.settimeout(1)
        return s.connect_ex(("127.0.0.1", 25)) == 0


class FlatTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        lib.ClearMail()
        lib.SetSmtpHost(b"localhost")
        lib.SetSmtpLogin(None)
        lib.SetSmtpPassword(None)

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.tmp.name, name)

    def test_empty_cc_gives_the_three_lines_as_xml(self):
        lib.AddRecipient(b"CC", b"  Ann ", b"")
        data, root = log_xml(lib, self.path("log.xml"))
        self.assertTrue(data.startswith(b'<?xml version="1.0"  encoding="utf-8" standalone="yes" ?>\n'), data)
        ctx = root.find("AddCC")
        self.assertIsNotNone(ctx, data)
        self.assertEqual([(e.tag, e.text or "") for e in ctx],
                         [("name", "Ann"), ("address", ""), ("error", "No Email Address was provided")])

    def test_recipient_types(self):
        lib.AddRecipient(b"bcc", b"Hidden", b"hidden@example.com")
        lib.AddRecipient(b"Reply", b"X", b"x@example.com")
        lib.AddRecipient(b"tO", b"", b"to@example.com")
        lib.AddRecipient(b"Reply", b"X", b"x@example.com")
        # The unknown type left the previous call's log.
        data, root = log_xml(lib, self.path("log.xml"))
        self.assertEqual(root.find("AddTo/address").text, "to@example.com")
        xml_path = self.path("e.xml")
        self.assertEqual(lib.ExportToXmlFile(b(xml_path)), 1)
        with open(xml_path, "rb") as f:
            xml = f.read()
        self.assertIn(b"hidden@example.com", xml)
        self.assertNotIn(b"x@example.com", xml)
        raw, msg = saved_email(lib, self.path("e.eml"))
        self.assertEqual(str(msg["to"]), "to@example.com")
        self.assertNotIn(b"hidden@example.com", raw)

    def test_bodies_are_replaced_not_combined(self):
        lib.SetPlainTextBody(b"Hello")
        lib.SetHtmlBody(b"<p>Hello</p>")
        _, msg = saved_email(lib, self.path("h.eml"))
        self.assertEqual(msg.get_content_type(), "text/html")
        self.assertIn("<p>Hello</p>", msg.get_content())
        lib.SetPlainTextBody(b"Plain again")
        _, msg = saved_email(lib, self.path("p.eml"))
        self.assertEqual(msg.get_content_type(), "text/plain")
        self.assertEqual(msg.get_content().strip(), "Plain again")

    def test_failed_send_then_a_setter(self):
        if port25_answers():
            self.skipTest("something listens on 127.0.0.1:25 here")
        lib.SetSmtpHost(b"127.0.0.1")
        lib.SetSmtpLogin(b"someone")
        lib.SetSmtpPassword(b"pw-5x!")
        lib.AddRecipient(b"To", b"", b"a@example.com")
        self.assertEqual(lib.SendMail(), 0)
        data, root = log_xml(lib, self.path("send.xml"))
        ctx = root.find("SendEmail")
        self.assertIsNotNone(ctx, data)
        self.assertIn(b"Failed to connect to SMTP server.", data)
        # A setter leaves the flag on the email, whose log is that of AddTo.
        lib.SetSmtpHost(b"127.0.0.1")
        data, root = log_xml(lib, self.path("after.xml"))
        self.assertIsNone(root.find("SendEmail"), data)
        self.assertEqual(root.find("AddTo/address").text, "a@example.com")

        # ClearMail keeps the settings (and the email's log); the email is new.
        lib.AddHeaderField(b"Subject", b"gone")
        lib.AddRecipient(b"CC", b"", b"gone@example.com")
        lib.ClearMail()
        data, root = log_xml(lib, self.path("cleared.xml"))
        self.assertEqual(root.find("AddCC/address").text, "gone@example.com", data)
        _, msg = saved_email(lib, self.path("cleared.eml"))
        self.assertIsNone(msg["subject"])
        self.assertIsNone(msg["to"])
        self.assertEqual(lib.SendMail(), 0)
        data, root = log_xml(lib, self.path("send2.xml"))
        self.assertEqual(root.find(".//smtp_host").text, "127.0.0.1", data)
        self.assertEqual(root.find(".//smtp_user").text, "someone", data)
        self.assertNotIn(b"pw-5x!", data)

    def test_mime_from_python_survives_import_and_export(self):
        m, attachment = sample_messages.python_written_mime()
        lib.ImportFromMime(m.as_bytes())
        _, got = saved_email(lib, self.path("round.eml"))
        self.assertEqual(str(got["subject"]), "来週の打ち合わせについて")
        self.assertEqual(got.get_body(("plain",)).get_content().replace("\r\n", "\n"), "田中様\nよろしくお願いします。\n")
        self.assertIn("<p>田中様</p>", got.get_body(("html",)).get_content())
        atts = list(got.iter_attachments())
        self.assertEqual(len(atts), 1)
        self.assertEqual(atts[0].get_filename(), "資料.bin")
        self.assertEqual(atts[0].get_content(), attachment)

    def test_xml_file_and_its_import(self):
        lib.AddHeaderField(b"Subject", b("件名 café"))
        lib.AddHeaderField(b"From", b"a@example.com")
        lib.AddRecipient(b"To", b("花子"), b"hanako@example.jp")
        lib.SetPlainTextBody(b("本文\nsecond line\n"))
        xml_path = self.path("mail.xml")
        self.assertEqual(lib.ExportToXmlFile(b(xml_path)), 1)
        with open(xml_path, "rb") as f:
            xml = f.read()
        self.assertTrue(xml.startswith(b'<?xml version="1.0" ?>\n'), xml[:60])
        self.assertNotIn(b"\r", xml)
        import xml.etree.ElementTree as ET
        ET.fromstring(xml)
        _, before = saved_email(lib, self.path("before.eml"))
        lib.ClearMail()
        lib.ImportFromXml(xml)
        _, after = saved_email(lib, self.path("after.eml"))
        for field in ("subject", "from", "to"):
            self.assertEqual(str(after[field]), str(before[field]), field)
        self.assertEqual(after.get_content(), before.get_content())
        self.assertEqual(after.get_content_type(), before.get_content_type())
        # A text that holds no email leaves the email as it was.
        lib.ImportFromXml(b"<nothing/>")
        _, same = saved_email(lib, self.path("same.eml"))
        self.assertEqual(str(same["subject"]), str(before["subject"]))

    def test_attachments_zip_and_charset(self):
        a = self.path("a.txt")
        with open(a, "wb") as f:
            f.write(b"alpha\n")
        self.assertEqual(lib.AddFileAttachment(b(a)), 1)
        self.assertEqual(lib.AddFileAttachment(b(self.path("missing.bin"))), 0)
        lib.ZipAttachments(b"")
        lib.SetCharset(b"iso-2022-jp")
        lib.SetPlainTextBody(b("日本語"))
        raw, msg = saved_email(lib, self.path("z.eml"))
        atts = list(msg.iter_attachments())
        self.assertEqual([p.get_filename() for p in atts], ["attach.zip"])
        self.assertIn(b"iso-2022-jp", raw.lower())
        self.assertEqual(msg.get_body(("plain",)).get_content().strip(), "日本語")

    def test_load_html_complete(self):
        image = b"GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xff\xff\xff!\xf9\x04\x01\x00\x00\x00\x00," \
            b"\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02D\x01\x00;"
        with open(self.path("dot.gif"), "wb") as f:
            f.write(image)
        page = self.path("page.htm")
        with open(page, "w", encoding="utf-8") as f:
            f.write('<html><body><p>ページ</p><img src="dot.gif"></body></html>')
        lib.AddRecipient(b"To", b"", b"to@example.com")
        self.assertEqual(lib.LoadHtmlComplete(b(page)), 1)
        _, msg = saved_email(lib, self.path("page.eml"))
        self.assertEqual(msg.get_content_type(), "multipart/related")
        self.assertEqual(str(msg["to"]), "to@example.com")
        images = [p for p in msg.walk() if p.get_content_type() == "image/gif"]
        self.assertEqual(len(images), 1)
        self.assertEqual(images[0].get_content(), image)
        html = msg.get_body(("html",)).get_content()
        self.assertIn("ページ", html)
        self.assertIn("cid:", html)

        raw_before, _ = saved_email(lib, self.path("before.eml"))
        self.assertEqual(lib.LoadHtmlComplete(b(self.path("missing.htm"))), 0)
        self.assertEqual(lib.LoadHtmlComplete(None), 0)
        raw_after, _ = saved_email(lib, self.path("after.eml"))
        self.assertEqual(raw_after, raw_before)

    def test_export_to_mime_file_keeps_x_unsent_and_reports(self):
        lib.AddHeaderField(b"X-Unsent", b"1")
        raw, _ = saved_email(lib, self.path("u.eml"))
        self.assertIn(b"X-Unsent: 1", raw)
        self.assertEqual(lib.ExportToMimeFile(b(self.path("no-such-dir/u.eml"))), 0)
        self.assertEqual(lib.ExportToMimeFile(b"  "), 0)

    def test_null_pointers_everywhere(self):
        for name, (args, _) in sorted(__import__("hanamail_sample").SIGNATURES.items()):
            fn = getattr(lib, name, None)
            if fn is None or name in ("SendMail",):
                continue
            with self.subTest(function=name):
                fn(*([None] * len(args)))
        self.assertEqual(lib.SaveErrorInfo(None), 0)
        self.assertEqual(lib.ExportToMimeFile(None), 0)
        self.assertEqual(lib.ExportToXmlFile(None), 0)

    def test_a_host_exits_cleanly_after_any_calls(self):
        script = (
            "import sys; sys.path.insert(0, %r)\n"
            "import hanamail_sample\n"
            "lib = hanamail_sample.load_library(%r)\n"
            "lib.AddHeaderField(b'Subject', b'x'); lib.SetHtmlBody(b'<p>x</p>')\n"
            "lib.AddRecipient(b'To', b'', b'a@example.com'); lib.ZipAttachments(None)\n"
            "lib.ImportFromMime(b'Subject: y\\r\\n\\r\\nbody'); lib.ClearMail(); lib.SetSmtpPassword(b'pw')\n"
            % (os.path.join(HERE, "..", "..", "examples", "python"), LIBRARY))
        r = subprocess.run([sys.executable, "-c", script], capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)


if __name__ == "__main__":
    unittest.main()
