"""hanamail charset: one line per name, exit status tells whether all were known."""
import os
import subprocess
import unittest

CLI = os.environ.get("HANAMAIL_CLI")

# name -> (code page, preferred name)
KNOWN = {
    "Shift_JIS": (932, "shift_jis"),
    " SHIFT-JIS ": (932, "shift_jis"),
    "x-sjis": (932, "shift_jis"),
    "UTF-8": (65001, "utf-8"),
    "ks_c_5601-1987": (949, "ks_c_5601-1987"),
    "latin1": (28591, "iso-8859-1"),
    "ascii": (20127, "us-ascii"),
    "gbk": (936, "gb2312"),
    "EUC-KR": (51949, "euc-kr"),
    "iso-2022-jp": (50220, "iso-2022-jp"),
    "csISO2022JP": (50221, "csiso2022jp"),
    "iso-2022-jp-2": (50222, "iso-2022-jp"),
    "euc-jp": (51932, "euc-jp"),
    "iso-8859-8 visual": (28598, "iso-8859-8"),
    "euc-tw": (51950, ""),
}


def run(*names):
    return subprocess.run([CLI, "charset", *names], capture_output=True, timeout=30)


@unittest.skipUnless(CLI, "HANAMAIL_CLI is not set")
class CharsetCommand(unittest.TestCase):
    def test_known_names(self):
        names = list(KNOWN)
        r = run(*names)
        self.assertEqual(r.returncode, 0, r.stderr)
        expected = "".join("%d\t%s\n" % KNOWN[n] for n in names)
        self.assertEqual(r.stdout.decode("ascii"), expected)
        self.assertEqual(r.stderr, b"")

    def test_one_unknown_name_fails_but_all_are_answered(self):
        r = run("utf-8", "no-such-charset", "us", "default", "shift jis", "sjis")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"65001\tutf-8\n" + b"0\t\n" * 4 + b"932\tshift_jis\n")

    def test_nameless_code_page_is_known(self):
        r = run("x-user-defined")
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stdout, b"50000\t\n")

    def test_no_names_is_a_usage_error(self):
        r = run()
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")
        self.assertIn(b"usage", r.stderr)


if __name__ == "__main__":
    unittest.main()
