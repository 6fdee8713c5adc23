"""hanamail file read/write: text files in a charset, judged by Python's codecs,
and the saved activity log, judged by Python's XML parser."""
import os
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

CLI = os.environ.get("HANAMAIL_CLI")

TEXT = "Hanamail \u65e5\u672c\u8a9e\u306e\u30c6\u30ad\u30b9\u30c8\r\nsecond line \uff21\n"
DECLARATION = b'<?xml version="1.0"  encoding="utf-8" standalone="yes" ?>\n'


def run(*args, stdin=b""):
    return subprocess.run([CLI, "file", *args], input=stdin, capture_output=True, timeout=30)


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class FileCommand(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="hanamail_file_")
        self.addCleanup(self.dir.cleanup)

    def path(self, leaf):
        return os.path.join(self.dir.name, leaf)

    def put(self, leaf, data):
        with open(self.path(leaf), "wb") as f:
            f.write(data)
        return self.path(leaf)

    def get(self, leaf):
        with open(self.path(leaf), "rb") as f:
            return f.read()

    def test_read_in_charsets(self):
        expected = TEXT.encode("utf-8")
        cases = [
            ("shift_jis", "shift_jis", TEXT.encode("shift_jis")),
            ("utf-8", "utf-8", expected),
            ("utf-8 with mark", "utf-8", TEXT.encode("utf-8-sig")),
            ("utf-16 with mark", "utf-16", b"\xff\xfe" + TEXT.encode("utf-16-le")),
            ("big-endian utf-16 with mark", "utf-16", b"\xfe\xff" + TEXT.encode("utf-16-be")),
            ("utf-16be without mark", "utf-16be", TEXT.encode("utf-16-be")),
            ("euc-jp", "euc-jp", TEXT.encode("euc-jp")),
            ("iso-2022-jp", "iso-2022-jp", TEXT.encode("iso-2022-jp")),
        ]
        for label, charset, data in cases:
            with self.subTest(label):
                r = run("read", "--charset", charset, self.put("in.txt", data))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(r.stdout, expected)
                self.assertEqual(r.stderr, b"")

    def test_write_in_charsets_without_mark(self):
        for charset, codec in [("shift_jis", "shift_jis"), ("utf-16", "utf-16-le"), ("utf-16be", "utf-16-be"),
                               ("utf-8", "utf-8"), ("euc-jp", "euc-jp")]:
            with self.subTest(charset):
                r = run("write", "--charset", charset, self.path("out.txt"), stdin=TEXT.encode("utf-8"))
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(self.get("out.txt"), TEXT.encode(codec))
                back = run("read", "--charset", charset, self.path("out.txt"))
                self.assertEqual(back.stdout, TEXT.encode("utf-8"))

    def test_unknown_charset_stands_for_utf8(self):
        r = run("write", "--charset", "no-such-charset", self.path("out.txt"), stdin=TEXT.encode("utf-8"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.get("out.txt"), TEXT.encode("utf-8"))
        r = run("read", self.path("out.txt"))
        self.assertEqual(r.stdout, TEXT.encode("utf-8"))

    def test_empty_file_and_empty_input(self):
        r = run("read", "--charset", "shift_jis", self.put("empty.txt", b""))
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        self.put("old.txt", b"old content")
        r = run("write", "--charset", "utf-16", self.path("old.txt"), stdin=b"")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.get("old.txt"), b"")

    def test_missing_file_and_directory(self):
        missing = self.path("missing.txt")
        r = run("read", "--charset", "utf-8", missing)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"")
        self.assertEqual(r.stderr.decode("utf-8"), "Failed to open file (3)\r\nfilename: %s\r\n"
                         "osErrorInfo: %s\r\n" % (missing, os.strerror(2)))
        r = run("read", self.dir.name)
        self.assertEqual(r.returncode, 1)
        self.assertIn(os.strerror(21).encode(), r.stderr)
        r = run("write", self.path("no_dir/out.txt"), stdin=b"x")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"cannot write", r.stderr)
        r = run("write", self.dir.name, stdin=b"x")
        self.assertEqual(r.returncode, 1)

    def test_saved_log_is_well_formed(self):
        # A name with the characters that need care in XML, CDATA's end marker included.
        missing = self.path("a]]>b<&c.txt")
        out = self.path("log.xml")
        r = run("read", "--log-xml", out, missing)
        self.assertEqual(r.returncode, 1)
        data = self.get("log.xml")
        self.assertTrue(data.startswith(DECLARATION), data[:80])
        root = ET.fromstring(data)
        self.assertEqual(root.tag, "TembrixLog")
        (context,) = list(root)
        self.assertEqual(context.tag, "ReadTextFile")
        self.assertEqual([(e.tag, e.text) for e in context],
                         [("error", "Failed to open file (3)"), ("filename", missing),
                          ("osErrorInfo", os.strerror(2))])

        r = run("read", "--log-xml", out, self.put("ok.txt", b"ok"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.get("log.xml"), DECLARATION + b"<TembrixLog>The log is empty</TembrixLog>")
        self.assertEqual(ET.fromstring(self.get("log.xml")).text, "The log is empty")

    def test_usage_errors(self):
        for args in [(), ("copy", "x"), ("read",), ("read", "a", "b"), ("read", "--charset"), ("read", "--bogus", "a")]:
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual(r.returncode, 2)
                self.assertIn(b"usage", r.stderr)

    def test_help(self):
        for flag in ["--help", "-h"]:
            r = run(flag)
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            self.assertTrue(r.stdout.startswith(b"usage: hanamail file read"), r.stdout)


if __name__ == "__main__":
    unittest.main()
