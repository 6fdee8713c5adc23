"""HTTP peers for the page-capture tests and benchmark, on 127.0.0.1 (or ::1):
Debian's nginx with a configuration of its own in a temporary folder, and
byte-level servers written here for the answers no real server gives."""
import os
import re
import shutil
import socket
import subprocess
import threading
import time

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"

# $connection tells whether requests shared one connection.
ACCESS_FORMAT = "$connection $status $request_uri"


def family(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def url_host(host):
    """The host as a URL writes it: an IPv6 address in brackets."""
    return "[%s]" % host if ":" in host else host


def server_url(scheme, host, port, path):
    return "%s://%s:%d/%s" % (scheme, url_host(host), port, path.lstrip("/"))


def free_port(host="127.0.0.1"):
    with socket.socket(family(host)) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def wait_for_port(port, proc=None, seconds=10, host="127.0.0.1"):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if proc is not None and proc.poll() is not None:
            return False
        try:
            with socket.create_connection((host, port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


class Nginx:
    """nginx serving ROOT on a free port, with extra server-block lines.

    Everything it writes (pid, logs, temporary bodies) stays in its own
    folder, so no root privileges or system paths are needed."""

    def __init__(self, workdir, root, host="127.0.0.1", tls=None):
        self.dir = os.path.join(workdir, "nginx")
        os.makedirs(self.dir, exist_ok=True)
        self.root = root
        self.host = host
        self.tls = tls  # (certificate, key) PEM files: https on the port
        self.port = free_port(host)
        self.access_log = os.path.join(self.dir, "access.log")
        self.error_log = os.path.join(self.dir, "error.log")
        self.conf = os.path.join(self.dir, "nginx.conf")
        self.proc = None
        self.configure()

    def configure(self, server_lines="", http_lines=""):
        """Writes the configuration; the port stays the one chosen."""
        with open(self.conf, "w") as f:
            f.write(self._config(server_lines, http_lines))

    def _config(self, server_lines, http_lines):
        d = self.dir
        # As root the workers would otherwise become "nobody", who cannot
        # read a private temporary folder.
        user = "user root;\n" if os.geteuid() == 0 else ""
        temps = "".join("  %s_temp_path %s/%s;\n" % (k, d, k)
                        for k in ["client_body", "proxy", "fastcgi", "uwsgi", "scgi"])
        ssl = (" ssl;\n    ssl_certificate %s;\n    ssl_certificate_key %s" % self.tls) if self.tls else ""
        return (user +
                "worker_processes 1;\n"
                "daemon off;\n"
                "pid %s/nginx.pid;\n"
                "error_log %s warn;\n"
                "events { worker_connections 256; }\n"
                "http {\n"
                "  log_format capture '%s';\n"
                "  access_log %s capture;\n"
                "%s"
                "  include /etc/nginx/mime.types;\n"
                "  default_type application/octet-stream;\n"
                "  gzip off;\n"
                "  keepalive_timeout 60s;\n"
                "  keepalive_requests 100000;\n"
                "%s\n"
                "  server {\n"
                "    listen %s:%d%s;\n"
                "    root %s;\n"
                "%s\n"
                "  }\n"
                "}\n") % (d, self.error_log, ACCESS_FORMAT, self.access_log, temps, http_lines, url_host(self.host), self.port,
                          ssl, self.root, server_lines)

    def start(self):
        self.proc = subprocess.Popen([NGINX, "-p", self.dir, "-c", self.conf, "-e", self.error_log],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if not wait_for_port(self.port, self.proc, host=self.host):
            err = self.proc.stderr.read().decode("utf-8", "replace") if self.proc.poll() is not None else ""
            self.stop()
            with open(self.error_log, errors="replace") as f:
                err += f.read()
            raise RuntimeError("nginx did not start: " + err)
        return self

    def stop(self):
        if self.proc is None:
            return
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stderr.close()
        self.proc = None

    def url(self, path):
        return server_url("https" if self.tls else "http", self.host, self.port, path)

    def requests(self):
        """The (connection, status, uri) of every request logged so far."""
        # nginx writes its access log line once the answer went out; give a
        # last answer a moment to be logged.
        time.sleep(0.05)
        out = []
        if not os.path.exists(self.access_log):
            return out
        with open(self.access_log, encoding="utf-8", errors="replace") as f:
            for line in f:
                parts = line.rstrip("\n").split(" ", 2)
                if len(parts) == 3:
                    out.append((parts[0], int(parts[1]), parts[2]))
        return out

    def mark(self):
        """A position in the access log; requests_since gives what came after."""
        return len(self.requests())

    def requests_since(self, mark):
        """Requests after mark. The client ends each request with one more
        CR LF than the header needs; nginx takes that for the start of a
        next request and logs it as a 400 of "-" when the connection
        closes. Those entries are left out."""
        return [r for r in self.requests()[mark:] if r[2] != "-"]


class RawServer:
    """A byte-level HTTP server: each connection is read up to the end of a
    request header, and handler(path, request, conn) answers it however it
    likes. Requests are recorded. Every connection is bounded in time."""

    def __init__(self, handler, lifetime=120, host="127.0.0.1"):
        self.handler = handler
        self.requests = []
        self.lock = threading.Lock()
        self.host = host
        self.sock = socket.socket(family(host))
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, 0))
        self.sock.listen(64)
        self.port = self.sock.getsockname()[1]
        self.stopping = threading.Event()
        self.deadline = time.monotonic() + lifetime
        self.thread = threading.Thread(target=self._accept, daemon=True)
        self.thread.start()

    def url(self, path):
        return server_url("http", self.host, self.port, path)

    def seen(self):
        with self.lock:
            return list(self.requests)

    def _accept(self):
        self.sock.settimeout(0.2)
        while not self.stopping.is_set() and time.monotonic() < self.deadline:
            try:
                conn, _ = self.sock.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            threading.Thread(target=self._serve, args=(conn,), daemon=True).start()

    def _serve(self, conn):
        conn.settimeout(30)
        buf = b""
        try:
            while not self.stopping.is_set():
                while b"\r\n\r\n" not in buf:
                    piece = conn.recv(65536)
                    if not piece:
                        return
                    buf += piece
                head, buf = buf.split(b"\r\n\r\n", 1)
                request = head.decode("latin-1")
                # The client ends its request with one more CR LF.
                if buf.startswith(b"\r\n"):
                    buf = buf[2:]
                first = request.split("\r\n", 1)[0].split(" ")
                path = first[1] if len(first) > 1 else ""
                with self.lock:
                    self.requests.append(request)
                if self.handler(path, request, conn) is False:
                    return
        except OSError:
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def stop(self):
        self.stopping.set()
        try:
            self.sock.close()
        except OSError:
            pass
        self.thread.join(timeout=5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def authorization_headers(requests):
    """The Authorization values among recorded request headers."""
    out = []
    for r in requests:
        for line in r.split("\r\n")[1:]:
            m = re.match(r"(?i)authorization\s*:\s*(.*)", line)
            if m:
                out.append(m.group(1))
    return out
