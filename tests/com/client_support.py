"""What the tests of the C client programs share: where the programs are,
running one in a scratch prefix and reading its check lines, and the
password forms no output may hold.

A client prints one line per check, "NAME ok" or "NAME FAIL details", and
"PROGRAM done N failures" last; a missing last line means it died."""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("HANAMAIL_SOURCE_DIR", os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))

import wine_prefix  # noqa: E402
from smtp_peer import secrets  # noqa: E402,F401

LINE = re.compile(r"^(\S+) (ok|FAIL)(?: (.*))?$")


def program(name):
    folder = os.environ.get("HANAMAIL_COM_BIN")
    if not folder:
        raise RuntimeError("HANAMAIL_COM_BIN names no folder of client programs")
    path = os.path.join(folder, name + ".exe")
    if not os.path.exists(path):
        raise RuntimeError("no client program %s" % path)
    return path


class Checks:
    """The outcome of one client run."""

    def __init__(self, name, completed):
        self.stdout = completed.stdout
        self.stderr = completed.stderr
        self.returncode = completed.returncode
        self.text = completed.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")
        self.results = {}
        self.done = False
        for line in self.text.split("\n"):
            if line.startswith(name + " done "):
                self.done = True
            m = LINE.match(line)
            if m:
                self.results[m.group(1)] = (m.group(2), m.group(3) or "")

    def failed(self):
        return {k: v[1] for k, v in self.results.items() if v[0] != "ok"}


def run(prefix, name, *args, env=None, timeout=300):
    """Runs the client program name in prefix; returns its Checks."""
    completed = prefix.run([program(name), *args], env=env, timeout=timeout)
    return Checks(name, completed)


class ClientTestMixin:
    """Assertions over a client run, for unittest.TestCase classes."""

    def assertClientPassed(self, checks, expected=()):
        detail = "exit %d\n%s\n%s" % (checks.returncode, checks.text, checks.stderr.decode(errors="replace"))
        self.assertTrue(checks.done, "the client did not finish: " + detail)
        self.assertEqual(checks.failed(), {}, detail)
        for name in expected:
            self.assertIn(name, checks.results, detail)
        self.assertEqual(checks.returncode, 0, detail)

    def assertNoSecret(self, data, user, password, what):
        if isinstance(data, str):
            data = data.encode("utf-8")
        # assertFalse, not assertNotIn: a failure must not print the password.
        for i, s in enumerate(secrets(user, password)):
            self.assertFalse(s in data, "%s holds form %d of the password" % (what, i))
