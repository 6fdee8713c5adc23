#!/usr/bin/env python3
"""Page capture beside wget: the built tool's `hanamail capture URL -o FILE`
and `wget -p -k` fetching the same page from nginx on 127.0.0.1.

usage: python3 bench/bench_capture.py [HANAMAIL] [--runs N] [--images N] [--keep DIR]

  HANAMAIL     the built tool (default: build/plain/hanamail under the repository)
  --runs N     runs of each, the two alternating (default 7)
  --images N   images on the page (default 50, about 1 MB together)
  --keep DIR   leave the page, nginx's logs and the last outputs in DIR

The page (a generated HTML file with N distinct images of 15 to 26 KB and a
style sheet) is served by nginx with keep-alive. Each run is one child
process: wall time by time.perf_counter around it, peak RSS its own maximum
resident set as GNU time reports it (/usr/bin/time, from the Debian package
"time": started from this Python process directly, a child's ru_maxrss would
count the Python process it was forked from). It prints each tool's best
time and peak RSS over the runs, the speed ratio (wget's best time / ours)
and memory ratio (our peak / wget's), and a PASS/FAIL line per target: at least 1.0x wget's speed, at most 3x its
peak RSS. A missed target still exits 0; exit 1 means the figures cannot be
trusted: a tool failed, or an image is missing from what it wrote.
"""

import argparse
import email
import email.policy
import hashlib
import os
import random
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
from child_usage import GNU_TIME, run_measured  # noqa: E402
from http_servers import Nginx  # noqa: E402

SEED = 20261209
TARGET_SPEED = 1.0
TARGET_RSS = 3.0


def log(msg):
    print(msg, file=sys.stderr, flush=True)


def make_site(root, images):
    """The page and its images; returns the SHA-256 of each image."""
    rng = random.Random(SEED)
    os.makedirs(os.path.join(root, "img"), exist_ok=True)
    hashes = set()
    tags = []
    for i in range(images):
        data = b"\x89PNG\r\n\x1a\n" + rng.randbytes(rng.randint(15000, 26000))
        name = "img/photo-%02d.png" % i
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)
        hashes.add(hashlib.sha256(data).hexdigest())
        tags.append('<p>Photo %d</p><img src="%s" alt="photo %d">' % (i, name, i))
    with open(os.path.join(root, "site.css"), "w") as f:
        f.write("body { font-family: sans-serif; margin: 2em; }\nimg { border: 1px solid #ccc; }\n")
    with open(os.path.join(root, "index.html"), "w") as f:
        f.write('<html><head><title>Gallery</title><link rel="stylesheet" href="site.css"></head>\n<body>\n' +
                "\n".join(tags) + "\n</body></html>\n")
    return hashes


def run_child(cmd):
    """(seconds, peak RSS in KiB, exit status) of one child."""
    u = run_measured(cmd, timeout=300)
    if u.returncode != 0:
        log("%s exited %d: %s" % (cmd[0], u.returncode, u.stderr.decode("utf-8", "replace")[-2000:]))
    return u.seconds, u.max_rss_kb, u.returncode


def captured_images(path):
    with open(path, "rb") as f:
        msg = email.message_from_bytes(f.read(), policy=email.policy.default)
    return {hashlib.sha256(p.get_payload(decode=True)).hexdigest()
            for p in msg.walk() if p.get_content_maintype() == "image"}


def fetched_images(folder):
    out = set()
    for d, _, names in os.walk(folder):
        for n in names:
            if n.endswith(".png"):
                with open(os.path.join(d, n), "rb") as f:
                    out.add(hashlib.sha256(f.read()).hexdigest())
    return out


def main():
    repo = os.path.dirname(HERE)
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("hanamail", nargs="?", default=os.path.join(repo, "build", "plain", "hanamail"))
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--images", type=int, default=50)
    ap.add_argument("--keep")
    args = ap.parse_args()
    wget = shutil.which("wget")
    if not os.path.exists(args.hanamail) or wget is None or GNU_TIME is None:
        log("needs the built tool (%s), wget and GNU time" % args.hanamail)
        return 1

    work = args.keep or tempfile.mkdtemp(prefix="bench_capture_")
    os.makedirs(work, exist_ok=True)
    www = os.path.join(work, "www")
    hashes = make_site(www, args.images)
    total = sum(os.path.getsize(os.path.join(www, "img", n)) for n in os.listdir(os.path.join(www, "img")))
    nginx = Nginx(work, www).start()
    url = nginx.url("index.html")
    ok = True
    ours, theirs = [], []
    try:
        log("page %s: %d images, %.2f MB; %d runs each, alternating" % (url, args.images, total / 1e6, args.runs))
        out = os.path.join(work, "capture.eml")
        for i in range(args.runs):
            if os.path.exists(out):
                os.remove(out)
            s, rss, code = run_child([args.hanamail, "capture", url, "-o", out])
            ours.append((s, rss))
            if code != 0 or captured_images(out) != hashes:
                log("run %d: the capture is missing images" % i)
                ok = False
            dest = os.path.join(work, "wget")
            shutil.rmtree(dest, ignore_errors=True)
            s, rss, code = run_child([wget, "-p", "-k", "-q", "-e", "robots=off", "-P", dest, url])
            theirs.append((s, rss))
            if code != 0 or fetched_images(dest) != hashes:
                log("run %d: wget is missing images" % i)
                ok = False
            log("run %d: capture %.3f s %d KiB, wget %.3f s %d KiB" % (i, ours[-1][0], ours[-1][1], theirs[-1][0],
                                                                     theirs[-1][1]))
        connections = {c for c, _, u in nginx.requests() if u.startswith("/img/")}
    finally:
        nginx.stop()
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    best_ours, best_theirs = min(s for s, _ in ours), min(s for s, _ in theirs)
    peak_ours, peak_theirs = max(r for _, r in ours), max(r for _, r in theirs)
    speed = best_theirs / best_ours if best_ours > 0 else 0
    memory = peak_ours / peak_theirs if peak_theirs > 0 else 0
    print("%-18s %10s %14s" % ("", "best s", "peak RSS KiB"))
    print("%-18s %10.3f %14d" % ("hanamail capture", best_ours, peak_ours))
    print("%-18s %10.3f %14d" % ("wget -p -k", best_theirs, peak_theirs))
    print("connections nginx saw for the images over all runs: %d" % len(connections))
    verdict = {True: "PASS", False: "FAIL"}
    print("speed: %.2fx wget (target >= %.1fx): %s" % (speed, TARGET_SPEED, verdict[speed >= TARGET_SPEED]))
    print("peak RSS: %.2fx wget (target <= %.1fx): %s" % (memory, TARGET_RSS, verdict[memory <= TARGET_RSS]))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
