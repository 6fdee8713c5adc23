"""Deeply nested input read by hanamail with a 1 MiB stack: ten thousand nested
multiparts, XML elements nested ten thousand deep and an XML text that never
closes its elements. Nothing may crash or lose the innermost text, and the
XML written must be well formed (xmllint)."""
import json
import os
import resource
import subprocess
import tempfile
import unittest

CLI = os.environ.get("HANAMAIL_CLI")
LEVELS = 10000


def small_stack():
    resource.setrlimit(resource.RLIMIT_STACK, (1 << 20, 1 << 20))


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, timeout=60, preexec_fn=small_stack)


def nested_mime(levels):
    head = "".join('Content-Type: multipart/mixed; boundary="b%d"\r\n\r\n--b%d\r\n' % (i, i) for i in range(levels))
    tail = "".join("--b%d--\r\n" % i for i in range(levels - 1, -1, -1))
    return (head + "Content-Type: text/plain\r\n\r\ninnermost\r\n" + tail).encode()


class DeepInputTest(unittest.TestCase):
    def setUp(self):
        self.assertTrue(CLI, "HANAMAIL_CLI is not set")
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def test_ten_thousand_nested_multiparts(self):
        src = self.write("deep.eml", nested_mime(LEVELS))
        r = run("show", "--json", src)
        self.assertEqual(r.returncode, 0, r.stderr)
        shown = json.loads(r.stdout)
        # Below the nesting cap the rest is kept whole as one part: its bytes
        # hold the innermost text.
        self.assertEqual(len(shown["attachments"]), 1)
        self.assertGreater(shown["attachments"][0]["size"], 600000)

        r = run("mime2xml", src, self.path("deep.xml"))
        self.assertEqual(r.returncode, 0, r.stderr)
        lint = subprocess.run(["xmllint", "--noout", "--huge", self.path("deep.xml")], capture_output=True)
        self.assertEqual(lint.returncode, 0, lint.stderr)
        r = run("xml2mime", self.path("deep.xml"), self.path("back.eml"))
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.path("back.eml"), "rb") as f:
            self.assertIn(b"innermost", f.read())

    def test_deep_and_unclosed_xml(self):
        for name, text in (("nested.xml", "<email>" * LEVELS + "</email>" * LEVELS),
                           ("unclosed.xml", "<a>" * 100000),
                           ("unclosed-email.xml", "<email><subject>" + "<x>" * 100000)):
            src = self.write(name, ('<?xml version="1.0"?>\n' + text).encode())
            for cmd in (("show", "--json", src), ("xml2mime", src, self.path("out.eml"))):
                r = run(*cmd)
                # A refusal is exit 1 with a line on standard error, never a crash.
                self.assertIn(r.returncode, (0, 1), (name, cmd[0], r.returncode, r.stderr[-300:]))
                if r.returncode == 1:
                    self.assertTrue(r.stderr.strip(), (name, cmd[0]))


if __name__ == "__main__":
    unittest.main()
