"""Runs one command as a child and measures it: wall time, exit status and
the peak resident memory of the command alone.

A child's ru_maxrss counts what the forked copy of this Python process held
before it ran exec, so the command is started through GNU time (a small
process of its own) where that is installed, and its %M figure is taken."""
import os
import shutil
import signal
import subprocess
import tempfile
import threading
import time

GNU_TIME = "/usr/bin/time" if os.access("/usr/bin/time", os.X_OK) else shutil.which("time")


class Usage:
    def __init__(self, returncode, stdout, stderr, seconds, max_rss_kb):
        self.returncode, self.stdout, self.stderr = returncode, stdout, stderr
        self.seconds, self.max_rss_kb = seconds, max_rss_kb


def run_measured(cmd, cwd=None, timeout=120):
    """The command's Usage; one that runs past timeout seconds is killed."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err, \
            tempfile.NamedTemporaryFile("r", suffix=".rss") as rss:
        full = [GNU_TIME, "-q", "-f", "%M", "-o", rss.name, *cmd] if GNU_TIME else list(cmd)
        start = time.perf_counter()
        # A group of its own, so that a stop reaches the command under time.
        p = subprocess.Popen(full, stdin=subprocess.DEVNULL, stdout=out, stderr=err, cwd=cwd, start_new_session=True)
        killer = threading.Timer(timeout, lambda: os.killpg(p.pid, signal.SIGKILL))
        killer.start()
        try:
            _, status, usage = os.wait4(p.pid, 0)
        finally:
            killer.cancel()
        seconds = time.perf_counter() - start
        out.seek(0)
        err.seek(0)
        max_rss = usage.ru_maxrss
        if GNU_TIME:
            text = rss.read().split()
            max_rss = int(text[-1]) if text and text[-1].isdigit() else max_rss
        return Usage(os.waitstatus_to_exitcode(status), out.read(), err.read(), seconds, max_rss)
