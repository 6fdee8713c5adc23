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

    def test_every_listed_name_through_the_command(self):
        listed = subprocess.run([CLI, "charset", "--list"], capture_output=True, timeout=30)
        self.assertEqual(listed.returncode, 0, listed.stderr)
        rows = [line.split("\t") for line in listed.stdout.decode("ascii").splitlines()]
        self.assertEqual(len(rows), 404)
        names = [name for _, name in rows]
        # Case, surrounding blanks and "_" for "-" do not matter.
        variants = names + [" %s\t" % n.upper() for n in names] + [n.replace("-", "_") for n in names]
        r = run(*variants)
        self.assertEqual(r.returncode, 0, r.stderr)
        answers = [line.split("\t") for line in r.stdout.decode("ascii").splitlines()]
        self.assertEqual(len(answers), 3 * len(rows))
        preferred = {}
        for i, answer in enumerate(answers):
            self.assertEqual(answer[0], rows[i % len(rows)][0], variants[i])
            preferred.setdefault(answer[0], answer[1])
            self.assertEqual(preferred[answer[0]], answer[1], variants[i])
        # 150 code pages, but 20932 has no name of its own ("euc-jp" reads as 51932).
        self.assertEqual(len(preferred), 149)
        self.assertEqual(len([p for p in preferred.values() if p]), 139)
        # Every preferred name reads back as its own code page, but for the two
        # names shared with another code page.
        shared = {"20932": "51932", "50222": "50220"}
        cps = [cp for cp, p in preferred.items() if p]
        back = run(*[preferred[cp] for cp in cps]).stdout.decode("ascii").splitlines()
        for cp, line in zip(cps, back):
            self.assertEqual(line.split("\t")[0], shared.get(cp, cp), preferred[cp])

    def test_no_names_is_a_usage_error(self):
        r = run()
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")
        self.assertIn(b"usage", r.stderr)

    def test_help(self):
        for flag in ["--help", "-h"]:
            r = run(flag)
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            self.assertTrue(r.stdout.startswith(b"usage: hanamail charset NAME"), r.stdout)


if __name__ == "__main__":
    unittest.main()
