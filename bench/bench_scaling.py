#!/usr/bin/env python3
"""Whole-process scaling of the hanamail tool: wall time and peak memory of
one process per run, as a user of the command line sees them.

usage: python3 bench/bench_scaling.py [HANAMAIL] [--tmp DIR] [--runs N]
           [--timeout S] [--convert-mb 10,60,200] [--attach-mb 20,200]

  HANAMAIL      the built tool (default: build/plain/hanamail under the repository)
  --tmp DIR     where the inputs and outputs go (default: a new folder under /tmp,
                removed at the end); the largest sizes need about 1 GB there
  --runs N      best of N runs per cell, ours and the peer alternating (default 3)
  --timeout S   a run that takes longer is stopped and reported as a timeout (120)

It prints:
  a. `hanamail convert --from utf-8 --to shift_jis` of Japanese UTF-8 text, from a
     file and from standard input, beside `iconv -f UTF-8 -t CP932` on the same file;
     both outputs must be byte-identical. Then the growth of our time per MB from
     the smallest to the largest size, and whether ours is at most iconv's everywhere.
  b. `hanamail compose` with one random binary attachment, to a file (-o) and to
     standard output: time, peak RSS, the time ratio largest/smallest and peak RSS
     per attachment byte. The attachment read back from the email must equal the input.
  c. One PASS/FAIL line per target.

Time is wall time (time.perf_counter) around each child; peak RSS is the child's
own ru_maxrss (os.wait4). Inputs come from fixed start values, so every run converts the
same bytes. It is a benchmark: a missed target still exits 0. Exit 1 means the
figures cannot be trusted: a tool failed, or wrote wrong output.
"""

import argparse
import base64
import email
import email.parser
import email.policy
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

MB = 1000 * 1000
TEXT_SEED = 20260415
ATTACH_SEED = 7031
VERIFY_WITH_EMAIL_PACKAGE_UP_TO = 64 * MB  # larger emails: the attachment part is decoded directly


def log(msg):
    print(msg, file=sys.stderr, flush=True)


# ---------------------------------------------------------------- one child


class Run:
    def __init__(self, seconds, max_rss_kb, status, timed_out):
        self.seconds = seconds
        self.max_rss_kb = max_rss_kb
        self.status = status
        self.timed_out = timed_out

    @property
    def ok(self):
        return not self.timed_out and self.status == 0


def run_child(argv, stdin_path, stdout_path, timeout, quiet=False):
    """Runs argv with stdin/stdout redirected to files; wall time and its own rusage."""
    fin = open(stdin_path, "rb") if stdin_path else open(os.devnull, "rb")
    fout = open(stdout_path, "wb") if stdout_path else open(os.devnull, "wb")
    ferr = tempfile.TemporaryFile()
    try:
        t0 = time.perf_counter()
        proc = subprocess.Popen(argv, stdin=fin, stdout=fout, stderr=ferr)
        killed = threading.Event()
        exited = threading.Event()

        def stop():
            # The child is known not to be reaped yet: the main thread reaps it
            # only after setting exited, and waitid(WNOWAIT) leaves it a zombie.
            if not exited.is_set():
                killed.set()
                proc.kill()

        timer = threading.Timer(timeout, stop)
        timer.start()
        os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOWAIT)
        seconds = time.perf_counter() - t0
        exited.set()
        timer.cancel()
        timer.join()
        _, wstatus, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(wstatus)
        if proc.returncode != 0 and not killed.is_set() and not quiet:
            ferr.seek(0)
            text = ferr.read(2000).decode("utf-8", "replace").strip()
            log(f"  {os.path.basename(argv[0])} exited {proc.returncode}: {text}")
        return Run(seconds, usage.ru_maxrss, proc.returncode, killed.is_set())
    finally:
        fin.close()
        fout.close()
        ferr.close()


class Cell:
    """Best of the runs of one command; a timeout or failure ends its runs."""

    def __init__(self):
        self.runs = []

    @property
    def stopped(self):
        return any(not r.ok for r in self.runs)

    @property
    def timed_out(self):
        return any(r.timed_out for r in self.runs)

    @property
    def failed(self):
        return any(not r.timed_out and r.status != 0 for r in self.runs)

    @property
    def best(self):
        return None if self.stopped or not self.runs else min(r.seconds for r in self.runs)

    @property
    def max_rss_kb(self):
        return max((r.max_rss_kb for r in self.runs), default=0)

    def text(self, digits=3):
        if self.timed_out:
            return "timeout"
        if self.failed:
            return "failed"
        return f"{self.best:.{digits}f}"


def alternate(commands, runs, timeout):
    """commands: list of (argv, stdin, stdout). Runs them in turn, runs times."""
    cells = [Cell() for _ in commands]
    for _ in range(runs):
        for cell, (argv, stdin, stdout) in zip(cells, commands):
            if not cell.stopped:
                cell.runs.append(run_child(argv, stdin, stdout, timeout))
    return cells


def sha256_of(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                return h.hexdigest()
            h.update(block)


# ---------------------------------------------------------------- a. convert


def candidates():
    chars = [chr(c) for c in range(0x21, 0x7F)]
    chars += [chr(c) for c in range(0x3041, 0x3094)]  # hiragana
    chars += [chr(c) for c in range(0x30A1, 0x30F7)]  # katakana
    chars += list("\u3000、。，．・：；？！゛゜ー〜「」『』（）【】〔〕＋－＝％＃＆＊＠￥")
    chars += [chr(c) for c in range(0xFF10, 0xFF1A)] + [chr(c) for c in range(0xFF21, 0xFF3B)]
    chars += [chr(c) for c in range(0x4E00, 0xA000)]  # kanji: the ones CP932 holds stay
    out = []
    for ch in chars:
        try:
            ch.encode("cp932")
        except UnicodeEncodeError:
            continue
        out.append(ch)
    return out


def agreed_repertoire(tool, chars, tmp, timeout):
    """The characters that both converters take and turn into the same bytes."""
    probe_in = os.path.join(tmp, "probe.txt")
    ours_out = os.path.join(tmp, "probe.ours")
    peer_out = os.path.join(tmp, "probe.iconv")

    def agree(group):
        with open(probe_in, "wb") as f:
            f.write("".join(c + "\n" for c in group).encode("utf-8"))
        a = run_child([tool, "convert", "--from", "utf-8", "--to", "shift_jis", probe_in, ours_out], None, None, timeout,
                      quiet=True)
        b = run_child(["iconv", "-f", "UTF-8", "-t", "CP932", probe_in], None, peer_out, timeout, quiet=True)
        if a.ok and b.ok:
            with open(ours_out, "rb") as f:
                ours = f.read().split(b"\n")
            with open(peer_out, "rb") as f:
                peer = f.read().split(b"\n")
            if len(ours) == len(peer) == len(group) + 1:
                return [c for c, x, y in zip(group, ours, peer) if x == y]
        if len(group) == 1:
            return []
        half = len(group) // 2
        return agree(group[:half]) + agree(group[half:])

    def why(c):
        with open(probe_in, "wb") as f:
            f.write(c.encode("utf-8"))
        a = run_child([tool, "convert", "--from", "utf-8", "--to", "shift_jis", probe_in, ours_out], None, None, timeout,
                      quiet=True)
        b = run_child(["iconv", "-f", "UTF-8", "-t", "CP932", probe_in], None, peer_out, timeout, quiet=True)
        if not a.ok or not b.ok:
            return "both refuse" if not a.ok and not b.ok else "ours refuses" if not a.ok else "iconv refuses"
        return "bytes differ"

    # A tool that fails on plain ASCII is broken, not picky: no search then.
    if not agree(["a"]):
        sys.exit("bench_scaling: the converters disagree on plain ASCII (is the tool working?)")
    rep = agree(chars)
    kept = set(rep)
    dropped = [(c, why(c)) for c in chars if c not in kept]
    return rep, dropped


def japanese_text(rep, target_bytes, path):
    """Writes about target_bytes of text (whole lines) made of rep from a fixed start value."""
    rng = random.Random(TEXT_SEED)
    kanji = [c for c in rep if ord(c) >= 0x4E00]
    hira = [c for c in rep if 0x3041 <= ord(c) <= 0x3093]
    kata = [c for c in rep if 0x30A1 <= ord(c) <= 0x30F6]
    ascii_ = [c for c in rep if ord(c) < 0x80 and (c.isalnum())] + [" "]
    punct = [c for c in rep if c not in kanji and c not in hira and c not in kata and c not in ascii_]
    pools = [(kanji, 40), (hira, 32), (kata, 10), (ascii_, 12), (punct, 6)]
    pools = [(p, w) for p, w in pools if p]
    weights = [w for _, w in pools]
    # Distinct 64 KB-ish chunks, then the chunks in a seeded order: varied text
    # without generating hundreds of MB character by character.
    chunks = []
    for _ in range(64):
        parts = []
        size = 0
        while size < 64 * 1024:
            line = []
            for _ in range(rng.randint(20, 50)):
                pool = rng.choices(pools, weights)[0][0]
                line.append(rng.choice(pool))
            s = ("".join(line) + "\n").encode("utf-8")
            parts.append(s)
            size += len(s)
        chunks.append(b"".join(parts))
    written = 0
    with open(path, "wb") as f:
        while written < target_bytes:
            chunk = rng.choice(chunks)
            left = target_bytes - written
            if len(chunk) > left:
                cut = chunk.rfind(b"\n", 0, left)
                chunk = chunk[: cut + 1] if cut >= 0 else chunk[: chunk.find(b"\n") + 1]
            f.write(chunk)
            written += len(chunk)
    return written


def bench_convert(args, tool, tmp):
    log("a. finding the characters both converters agree on ...")
    chars = candidates()
    rep, dropped = agreed_repertoire(tool, chars, tmp, 60.0)
    print(f"a. convert UTF-8 -> Shift_JIS (ours: code page 932) beside iconv UTF-8 -> CP932")
    print(f"   text of {len(rep)} characters (kana, kanji, ASCII, punctuation, newlines)", end="")
    if dropped:
        shown = ", ".join(f"U+{ord(c):04X} ({why})" for c, why in dropped[:8]) + (", ..." if len(dropped) > 8 else "")
        print(f";\n   left out {len(dropped)} on which the two do not agree: {shown}")
    else:
        print("; both agree on every candidate character")
    print(f"   best of {args.runs}, wall time of the whole process; the machine is shared, so figures are noisy")
    print()
    print(f"   {'size MB':>8} {'mode':<6} {'ours s':>9} {'iconv s':>9} {'ours/iconv':>10} {'ours s/MB':>10} {'same bytes':>10}")
    results = {}
    bad_output = False
    infile = os.path.join(tmp, "text.utf8")
    ours_out = os.path.join(tmp, "text.ours")
    peer_out = os.path.join(tmp, "text.iconv")
    for mb in args.convert_mb:
        size = japanese_text(rep, int(mb * MB), infile)
        for mode in ("file", "stdin"):
            log(f"a. {mb} MB from {mode} ...")
            if mode == "file":
                ours_cmd = ([tool, "convert", "--from", "utf-8", "--to", "shift_jis", infile, ours_out], None, None)
                peer_cmd = (["iconv", "-f", "UTF-8", "-t", "CP932", infile], None, peer_out)
            else:
                ours_cmd = ([tool, "convert", "--from", "utf-8", "--to", "shift_jis"], infile, ours_out)
                peer_cmd = (["iconv", "-f", "UTF-8", "-t", "CP932"], infile, peer_out)
            ours, peer = alternate([ours_cmd, peer_cmd], args.runs, args.timeout)
            if ours.best is not None and peer.best is not None:
                same = sha256_of(ours_out) == sha256_of(peer_out)
                bad_output |= not same
                same_text = "yes" if same else "NO"
            else:
                same_text = "-"
            bad_output |= ours.failed or peer.failed
            ratio = f"{ours.best / peer.best:.2f}" if ours.best and peer.best else "-"
            per_mb = ours.best / (size / MB) if ours.best else None
            per_mb_text = f"{per_mb:.4f}" if per_mb else "-"
            print(f"   {size / MB:8.1f} {mode:<6} {ours.text():>9} {peer.text():>9} {ratio:>10} {per_mb_text:>10} {same_text:>10}",
                  flush=True)
            results[(mb, mode)] = (ours, peer, per_mb)
        for p in (ours_out, peer_out):
            if os.path.exists(p):
                os.remove(p)
    os.remove(infile)

    targets = []
    small, large = min(args.convert_mb), max(args.convert_mb)
    print()
    growth_ok = True
    for mode in ("file", "stdin"):
        a = results[(small, mode)][2]
        b = results[(large, mode)][2]
        if a and b:
            g = b / a
            print(f"   {mode:<6}: our time per MB at {large} MB / at {small} MB = {g:.2f} (target <= 1.3)")
            growth_ok &= g <= 1.3
        else:
            print(f"   {mode:<6}: our time per MB at {large} MB / at {small} MB = n/a (a run timed out or failed)")
            growth_ok = False
    not_slower = all(o.best is not None and p.best is not None and o.best <= p.best for o, p, _ in results.values())
    print(f"   ours <= iconv at every size and mode: {'yes' if not_slower else 'no'}")
    targets.append((f"convert: time per MB at {large} MB <= 1.3x that at {small} MB", growth_ok))
    targets.append(("convert: ours <= iconv at every size and mode", not_slower))
    return targets, bad_output


# ---------------------------------------------------------------- b. compose


def random_file(path, nbytes, start):
    rng = random.Random(start)
    left = nbytes
    with open(path, "wb") as f:
        while left > 0:
            n = min(left, 1 << 20)
            f.write(rng.randbytes(n))
            left -= n


def header_end(blob, start):
    """Index just past the blank line that ends the header at start."""
    candidates_ = [(i, 4) for i in [blob.find(b"\r\n\r\n", start)] if i >= 0]
    candidates_ += [(i, 2) for i in [blob.find(b"\n\n", start)] if i >= 0]
    if not candidates_:
        return None
    i, n = min(candidates_)
    return i + n


def find_attachment(blob, start, end, filename):
    """The decoded bytes of the part named filename, walking multipart bodies by hand."""
    body = header_end(blob, start)
    if body is None or body > end:
        return None
    head = email.parser.BytesHeaderParser(policy=email.policy.default).parsebytes(blob[start:body])
    if head.get_content_maintype() == "multipart":
        boundary = head.get_boundary()
        if not boundary:
            return None
        delim = b"\n--" + boundary.encode("ascii")
        at = blob.find(b"--" + boundary.encode("ascii"), body, end)
        while at >= 0:
            line_end = blob.find(b"\n", at, end)
            if line_end < 0 or blob[at : line_end].rstrip(b"\r").endswith(b"--"):
                return None
            part_start = line_end + 1
            nxt = blob.find(delim, part_start, end)
            if nxt < 0:
                return None
            part_end = nxt - 1 if blob[nxt - 1 : nxt] == b"\r" else nxt
            found = find_attachment(blob, part_start, part_end, filename)
            if found is not None:
                return found
            at = nxt + 1
        return None
    if head.get_filename() != filename:
        return None
    if (head.get("Content-Transfer-Encoding") or "").strip().lower() != "base64":
        return None
    return base64.b64decode(blob[body:end].replace(b"\r", b"").replace(b"\n", b""), validate=True)


def attachment_sha256(eml_path, filename):
    """Reads the email in a child process: a child forked from a parent that
    had read a large email would start with the parent's resident pages and
    report them as its own peak RSS."""
    r = subprocess.run([sys.executable, os.path.abspath(__file__), "--sha256-of-attachment", eml_path, filename],
                       capture_output=True, text=True)
    digest = r.stdout.strip()
    return digest if r.returncode == 0 and digest else None


def attachment_sha256_here(eml_path, filename):
    size = os.path.getsize(eml_path)
    if size <= VERIFY_WITH_EMAIL_PACKAGE_UP_TO:
        with open(eml_path, "rb") as f:
            msg = email.message_from_binary_file(f, policy=email.policy.default)
        for part in msg.iter_attachments():
            if part.get_filename() == filename:
                data = part.get_content()
                return hashlib.sha256(data if isinstance(data, bytes) else data.encode()).hexdigest()
        return None
    with open(eml_path, "rb") as f:
        blob = f.read()
    data = find_attachment(blob, 0, len(blob), filename)
    return hashlib.sha256(data).hexdigest() if data is not None else None


def bench_compose(args, tool, tmp):
    print()
    print("b. compose with one random binary attachment (text body, one To)")
    print(f"   best of {args.runs} wall time; peak RSS: the highest ru_maxrss of the runs")
    print()
    print(f"   {'attach MB':>9} {'output':<7} {'ours s':>9} {'peak RSS MB':>11} {'RSS/attach':>10} {'attachment read back':>21}")
    body = os.path.join(tmp, "T")
    with open(body, "w", encoding="utf-8") as f:
        f.write("T\n")
    attach = os.path.join(tmp, "attachment.bin")
    out = os.path.join(tmp, "email.eml")
    results = {}
    bad_output = False
    for mb in args.attach_mb:
        nbytes = int(mb * MB)
        random_file(attach, nbytes, ATTACH_SEED)
        want = sha256_of(attach)
        base = [tool, "compose", "--from", "a@example.com", "--to", "b@example.com", "--subject", "x",
                "--text", body, "--attach", attach]
        for mode in ("file", "stdout"):
            log(f"b. {mb} MB to {mode} ...")
            if os.path.exists(out):
                os.remove(out)
            cmd = (base + ["-o", out], None, None) if mode == "file" else (base, None, out)
            (cell,) = alternate([cmd], args.runs, args.timeout)
            verdict = "-"
            if cell.best is not None:
                got = attachment_sha256(out, os.path.basename(attach))
                verdict = "same SHA-256" if got == want else ("not found" if got is None else "DIFFERENT")
                bad_output |= got != want
            bad_output |= cell.failed
            rss_mb = cell.max_rss_kb * 1024 / MB
            per = cell.max_rss_kb * 1024 / nbytes
            print(f"   {mb:9} {mode:<7} {cell.text():>9} {rss_mb:11.1f} {per:10.2f} {verdict:>21}", flush=True)
            results[(mb, mode)] = (cell, per)
    for p in (attach, out, body):
        if os.path.exists(p):
            os.remove(p)

    small, large = min(args.attach_mb), max(args.attach_mb)
    print()
    time_ok = True
    for mode in ("file", "stdout"):
        a = results[(small, mode)][0].best
        b = results[(large, mode)][0].best
        if a and b:
            print(f"   {mode:<6}: time at {large} MB / at {small} MB = {b / a:.2f} (target <= {large / small * 1.1:.0f})")
            time_ok &= b / a <= large / small * 1.1
        else:
            print(f"   {mode:<6}: time at {large} MB / at {small} MB = n/a (a run timed out or failed)")
            time_ok = False
    rss_ok = all(c.best is not None and per <= 2.5 for c, per in results.values())
    worst = max(per for _, per in results.values())
    print(f"   highest peak RSS / attachment size: {worst:.2f} (target <= 2.5)")
    return [
        (f"compose: time at {large} MB <= {large / small * 1.1:.0f}x that at {small} MB", time_ok),
        ("compose: peak RSS <= 2.5x the attachment", rss_ok),
    ], bad_output


# ---------------------------------------------------------------- main


def sizes(text):
    return [int(x) if float(x).is_integer() else float(x) for x in text.split(",") if x]


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--sha256-of-attachment":
        print(attachment_sha256_here(sys.argv[2], sys.argv[3]) or "")
        return 0
    here = os.path.dirname(os.path.abspath(__file__))
    repo = os.path.dirname(here)
    ap = argparse.ArgumentParser(description="Whole-process scaling of hanamail convert and compose.")
    ap.add_argument("hanamail", nargs="?", default=os.path.join(repo, "build", "plain", "hanamail"))
    ap.add_argument("--tmp", help="folder for the inputs and outputs (default: a new one under /tmp)")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--timeout", type=float, default=120.0)
    ap.add_argument("--convert-mb", type=sizes, default=[10, 60, 200])
    ap.add_argument("--attach-mb", type=sizes, default=[20, 200])
    args = ap.parse_args()
    args.runs = max(1, args.runs)

    tool = os.path.abspath(args.hanamail)
    if not os.access(tool, os.X_OK):
        sys.exit(f"bench_scaling: no hanamail tool at {tool} (build it, or give its path)")
    if not shutil.which("iconv"):
        sys.exit("bench_scaling: iconv is not on PATH")
    if args.tmp:
        os.makedirs(args.tmp, exist_ok=True)
        tmp = tempfile.mkdtemp(prefix="hanamail-scaling-", dir=args.tmp)
    else:
        tmp = tempfile.mkdtemp(prefix="hanamail-scaling-", dir="/tmp")
    print(f"tool: {tool}; {os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f} at the start")
    print()
    try:
        t_a, bad_a = bench_convert(args, tool, tmp)
        t_b, bad_b = bench_compose(args, tool, tmp)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    print()
    print(f"c. targets (load average {os.getloadavg()[0]:.2f} at the end)")
    for name, ok in t_a + t_b:
        print(f"   {'PASS' if ok else 'FAIL'}  {name}")
    missed = sum(1 for _, ok in t_a + t_b if not ok)
    if bad_a or bad_b:
        print("   FAIL  a tool failed or wrote wrong output: the figures above cannot be trusted")
        return 1
    print(f"   {missed} target(s) missed" if missed else "   every target met")
    return 0


if __name__ == "__main__":
    sys.exit(main())
