"""The two samples of the flat functions (C and Python) write an email that
Python's email package reads without defects."""
import os
import subprocess
import sys
import tempfile
import unittest

from flat_support import LIBRARY, SOURCE

sys.path.insert(0, os.path.join(SOURCE, "tests", "install"))
import judge_email  # noqa: E402  (the install check's judge of the same email)

SAMPLE_C = os.environ.get("HANAMAIL_SAMPLE_C")
SAMPLE_PY = os.path.join(SOURCE, "examples", "python", "hanamail_sample.py")


class SamplesTest(unittest.TestCase):
    def check(self, cmd, out):
        r = subprocess.run(cmd, capture_output=True, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(judge_email.problems(out), [])

    def test_c_sample(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "c.eml")
            self.check([SAMPLE_C, out], out)
            r = subprocess.run([SAMPLE_C], capture_output=True, timeout=60)
            self.assertEqual(r.returncode, 2)

    def test_python_sample(self):
        with tempfile.TemporaryDirectory() as d:
            out = os.path.join(d, "py.eml")
            self.check([sys.executable, SAMPLE_PY, "--library", LIBRARY, out], out)
            # A failed step gives a non-zero status and the log.
            bad = os.path.join(d, "missing-dir", "x.eml")
            r = subprocess.run([sys.executable, SAMPLE_PY, "--library", LIBRARY, bad], capture_output=True,
                               timeout=60)
            self.assertNotEqual(r.returncode, 0)


if __name__ == "__main__":
    unittest.main()
