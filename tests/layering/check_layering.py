#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer above its own or
beside it. The table is the one ARCHITECTURE.md states and CMakeLists.txt
builds; a folder of src/ missing from it fails too, so a new subsystem gets
its place before its first include."""
import os
import re
import sys

# folder -> folders whose headers it may include (its own and every lower layer's)
BASE = {"platform", "foundation", "charset"}
REACH = {
    "platform": {"platform"},
    "foundation": BASE,
    "charset": BASE,
    "html": BASE | {"html"},
    "mime": BASE | {"html", "mime"},
    "zip": BASE | {"zip"},
    "smtp": BASE | {"html", "mime", "smtp"},
    "web": BASE | {"html", "mime", "smtp", "web"},
    "component": BASE | {"html", "mime", "zip", "smtp", "web", "component", "hanamail"},
}
# (component/ implements the public C header, include/hanamail/hanamail.h.)

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')


def main(root):
    src = os.path.join(root, "src")
    problems = []
    for folder in sorted(os.listdir(src)):
        if not os.path.isdir(os.path.join(src, folder)):
            continue
        if folder not in REACH:
            problems.append("src/%s has no place in the layer table" % folder)
            continue
        for d, _, files in os.walk(os.path.join(src, folder)):
            for f in sorted(files):
                if not f.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(d, f)
                with open(path, encoding="utf-8") as fh:
                    for n, line in enumerate(fh, 1):
                        m = INCLUDE.match(line)
                        if m and m.group(1) not in REACH[folder]:
                            problems.append("%s:%d: %s includes %s/, which is not below it" % (
                                os.path.relpath(path, root), n, folder, m.group(1)))
    for p in problems:
        print(p)
    print("layering: %d problem(s)" % len(problems))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")))
