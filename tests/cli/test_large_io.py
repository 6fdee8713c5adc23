"""Whole streams in and out of the tool: pipes, files that do not report
their size, and emails too large to write, which must fail visibly."""
import email
import email.policy
import hashlib
import os
import random
import subprocess
import tempfile
import unittest

CLI = os.environ.get("HANAMAIL_CLI")
CLI_HOOKS = os.environ.get("HANAMAIL_CLI_HOOKS")


def japanese_text(size):
    rng = random.Random(11)
    pieces = ["日本語のテキスト", "かなカナ", "漢字", "ASCII text 123", "、。「」", "\r\n"]
    out = []
    total = 0
    while total < size:
        p = rng.choice(pieces)
        out.append(p)
        total += len(p.encode("utf-8"))
    return "".join(out).encode("utf-8")


class StreamsOfAnySize(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="hanamail_io_")
        self.addCleanup(self.dir.cleanup)

    def path(self, leaf):
        return os.path.join(self.dir.name, leaf)

    def test_convert_reads_a_pipe_and_a_file_alike(self):
        data = japanese_text(3 * 1024 * 1024 + 17)
        src = self.path("in.txt")
        with open(src, "wb") as f:
            f.write(data)
        expected = data.decode("utf-8").encode("cp932")
        piped = subprocess.run([CLI, "convert", "--from", "utf-8", "--to", "shift_jis"], input=data,
                               capture_output=True, timeout=60)
        self.assertEqual(piped.returncode, 0, piped.stderr)
        self.assertEqual(piped.stdout, expected)
        out = self.path("out.txt")
        from_file = subprocess.run([CLI, "convert", "--from", "utf-8", "--to", "shift_jis", src, out],
                                   capture_output=True, timeout=60)
        self.assertEqual(from_file.returncode, 0, from_file.stderr)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), expected)

    def test_a_file_that_reports_no_size_is_read_whole(self):
        # /proc files say they are empty; their bytes come only by reading on.
        r = subprocess.run([CLI, "convert", "--from", "utf-8", "--to", "utf-8", "/proc/self/status"],
                           capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"Name:", r.stdout)

    def test_pipes_named_as_files(self):
        # What a shell hands over for <(...) and /dev/stdin: no size, bytes only by reading.
        script = ('"$0" compose --to a@example.com --attach <(printf hi) --text /dev/stdin '
                  '<<< "body from a pipe"')
        r = subprocess.run(["bash", "-c", script, CLI], capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        msg = email.message_from_bytes(r.stdout, policy=email.policy.default)
        self.assertEqual(msg.defects, [])
        self.assertEqual(msg.get_body(("plain",)).get_content().strip(), "body from a pipe")
        attachments = list(msg.iter_attachments())
        self.assertEqual(len(attachments), 1)
        self.assertEqual(attachments[0].get_content(), b"hi")

    def test_a_large_body_from_standard_input(self):
        body = japanese_text(2 * 1024 * 1024)
        r = subprocess.run([CLI, "compose", "--to", "a@example.com", "--charset", "utf-8", "--text", "-"],
                           input=body, capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        msg = email.message_from_bytes(r.stdout, policy=email.policy.default)
        self.assertEqual(msg.defects, [])
        self.assertEqual(msg.get_content().replace("\r\n", "\n"), body.decode("utf-8").replace("\r\n", "\n"))


@unittest.skipUnless(CLI_HOOKS, "the tests' build of the tool is needed")
class EmailsTooLargeToWrite(unittest.TestCase):
    """With every buffer limited to 1 MB, an 800 KB attachment (1.1 MB as base64) cannot be written."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="hanamail_limit_")
        self.addCleanup(self.dir.cleanup)
        self.attachment = os.path.join(self.dir.name, "big.bin")
        with open(self.attachment, "wb") as f:
            f.write(random.Random(5).randbytes(800 * 1000))

    def compose(self, *args):
        env = dict(os.environ, HANAMAIL_TEST_BUFFER_CAP=str(1 << 20))
        return subprocess.run([CLI_HOOKS, "compose", "--to", "a@example.com", "--subject", "big",
                               "--attach", self.attachment, *args], capture_output=True, timeout=60, env=env)

    def test_to_a_file_fails_and_leaves_no_file(self):
        out = os.path.join(self.dir.name, "big.eml")
        r = self.compose("-o", out)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Email too large", r.stderr)
        self.assertFalse(os.path.exists(out))

    def test_to_standard_output_fails_and_writes_nothing(self):
        r = self.compose()
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Email too large", r.stderr)
        self.assertEqual(r.stdout, b"")

    def test_without_the_limit_the_same_email_is_whole(self):
        r = subprocess.run([CLI_HOOKS, "compose", "--to", "a@example.com", "--attach", self.attachment],
                           capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        msg = email.message_from_bytes(r.stdout, policy=email.policy.default)
        parts = [p for p in msg.iter_attachments()]
        self.assertEqual(len(parts), 1)
        with open(self.attachment, "rb") as f:
            self.assertEqual(hashlib.sha256(parts[0].get_content()).hexdigest(),
                             hashlib.sha256(f.read()).hexdigest())


if __name__ == "__main__":
    unittest.main()
