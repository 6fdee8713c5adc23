"""The tests' SMTP servers (smtp_server.py beside this file) as context
managers: started on entry, stopped when the block ends, with the messages
they received readable as dicts."""
import base64
import json
import os
import subprocess
import sys
import tempfile

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "smtp_server.py")


def secrets(user, password):
    """The password as any log or transcript could carry it: plain, base64,
    and inside the AUTH PLAIN blobs (with and without an authorization
    identity)."""
    u, p = user.encode(), password.encode()
    return [p, base64.b64encode(p), base64.b64encode(b"\0".join([u, u, p])), base64.b64encode(b"\0" + u + b"\0" + p)]



class Server:
    """One of the tests' SMTP servers, stopped when the block ends."""

    def __init__(self, kind, *extra, user, password, mechanisms="LOGIN,PLAIN,CRAM-MD5", port=0, host="127.0.0.1"):
        self.dir = tempfile.TemporaryDirectory()
        self.record = os.path.join(self.dir.name, "record.jsonl")
        args = [sys.executable, SERVER, kind, "--record", self.record, "--user", user, "--password", password,
                "--mechanisms", mechanisms, "--lifetime", "60", "--port", str(port), "--host", host, *extra]
        self.proc = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline()
        if not line.startswith("PORT "):
            raise RuntimeError("the test server did not start: %r" % line)
        self.port = int(line.split()[1])

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.proc.stdin.close()
        self.proc.stdout.close()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
        self.dir.cleanup()

    def messages(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record, encoding="utf-8") as f:
            return [json.loads(line) for line in f]
