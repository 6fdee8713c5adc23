"""Judges an archive written by the zip tests: judge_zip.py ARCHIVE MANIFEST.

Manifest lines, in archive order: "<name as UTF-8, hex> <method> <UTF-8 flag
0/1> <file holding the bytes>". Exit 0 when Python's zipfile, unzip -t,
zipinfo and extraction by unzip agree with it; 77 when unzip is missing.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile


def main(archive, manifest):
    expected = []
    for line in open(manifest, encoding="ascii"):
        hexname, method, flag, path = line.rstrip("\n").split(" ", 3)
        expected.append((bytes.fromhex(hexname).decode(), int(method), flag == "1", open(path, "rb").read()))
    problems = []
    with zipfile.ZipFile(archive) as z:
        if z.testzip() is not None:  # reads every member, checking its CRC
            problems.append("testzip: bad member %r" % z.testzip())
        if z.namelist() != [e[0] for e in expected]:
            problems.append("names %r" % z.namelist())
        for info, (name, method, flag, data) in zip(z.infolist(), expected):
            made_by = (14, 63) if flag else (0, 0)
            got = (z.read(info) == data, info.compress_type, info.extract_version,
                   (info.create_system, info.create_version), info.external_attr, info.flag_bits)
            want = (True, method, 20, made_by, 0x80, 0x800 if flag else 0)
            if got != want:
                problems.append("%s: %r, expected %r" % (name, got, want))
    if not shutil.which("unzip") or not shutil.which("zipinfo"):
        print("\n".join(problems) or "unzip/zipinfo not installed")
        return 1 if problems else 77

    test = subprocess.run(["unzip", "-t", archive], capture_output=True, text=True, errors="replace")
    if test.returncode != 0 or "No errors detected" not in test.stdout:
        problems.append("unzip -t: %s%s" % (test.stdout, test.stderr))
    listing = subprocess.run(["zipinfo", archive], capture_output=True, text=True, errors="replace").stdout
    verbose = subprocess.run(["zipinfo", "-v", archive], capture_output=True, text=True, errors="replace").stdout
    deflated = sum(1 for e in expected if e[1] == 8)
    if listing.count(" defN ") != deflated or verbose.count("compression method:" + " " * 29 + "deflated") != deflated:
        problems.append("zipinfo methods:\n%s" % listing)
    if verbose.count("minimum software version required to extract:   2.0") != len(expected):
        problems.append("zipinfo versions:\n%s" % verbose)
    if verbose.count("MS-DOS file attributes (80 hex)") != len(expected):
        problems.append("zipinfo attributes:\n%s" % verbose)

    # In a UTF-8 locale unzip must create flagged and ASCII names as given
    # (it converts unflagged OEM names by its own rules).
    utf8 = [l for l in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.split()
            if l.lower() in ("c.utf8", "c.utf-8")]
    with tempfile.TemporaryDirectory() as out:
        if utf8 and subprocess.run(["unzip", "-q", archive, "-d", out], env=dict(os.environ, LC_ALL=utf8[0])).returncode:
            problems.append("unzip could not extract")
        for name, _method, flag, data in expected if utf8 else []:
            path = os.path.join(out, *name.split("/"))
            if (flag or name.isascii()) and (not os.path.isfile(path) or open(path, "rb").read() != data):
                problems.append("unzip extracted %r wrongly: %r" % (name, os.listdir(out)))
    print("\n".join(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
