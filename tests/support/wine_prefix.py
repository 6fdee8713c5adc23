"""Scratch Wine prefixes for the tests of Hanamail.dll.

Booting a prefix takes half a minute, so one is booted once per build tree
(a template, made under a lock so that tests started side by side wait for
it) and each test copies it into a scratch folder of its own, which is
removed with its wineserver when the test ends.

Sending tests need port 25, which the component always uses: they call
enter_netns() first, which runs the test again inside a private network
namespace with the loopback up. A prefix copied there has no wineserver
outside it, so its wineserver starts inside the namespace and Wine's sockets
reach the test server."""
import fcntl
import os
import shutil
import subprocess
import tempfile

from netns import SKIP, enter_netns  # noqa: F401 (for the tests)

BASE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


def dll_path():
    """The DLL under test, from the environment CTest sets."""
    path = os.environ.get("HANAMAIL_DLL")
    if not path or not os.path.exists(path):
        raise RuntimeError("HANAMAIL_DLL names no built Hanamail.dll: %r" % path)
    return path


def _template_dir():
    root = os.environ.get("HANAMAIL_WINE_TEMPLATE")
    if not root:
        root = os.path.join(os.path.dirname(dll_path()), "wine-template")
    return root


def template():
    """The booted template prefix, made on first use."""
    root = _template_dir()
    prefix = os.path.join(root, "prefix")
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(root, "ready")):
            shutil.rmtree(prefix, ignore_errors=True)
            env = dict(os.environ, WINEPREFIX=prefix, **BASE_ENV)
            subprocess.run(["wineboot", "-i"], env=env, capture_output=True, timeout=600)
            subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=600)
            if not os.path.exists(os.path.join(prefix, "system.reg")):
                raise RuntimeError("wineboot made no prefix in %s" % prefix)
            open(os.path.join(root, "ready"), "w").close()
    return prefix


def winpath(path):
    """The Windows form of a Linux path (drive Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Prefix:
    """A scratch copy of the template, with its own wineserver; removed when
    the block ends."""

    def __init__(self, extra_env=None):
        self.tmp = tempfile.mkdtemp(prefix="hanamail-wine-")
        self.path = os.path.join(self.tmp, "prefix")
        subprocess.run(["cp", "-a", template(), self.path], check=True)
        self.env = dict(os.environ, WINEPREFIX=self.path, **BASE_ENV)
        self.env.update(extra_env or {})
        self._start_server()

    def _start_server(self):
        # Wine's background processes (services and the like) inherit the
        # output pipes of the program that started them and outlive it until
        # the wineserver's idle timeout, so every captured run would wait
        # seconds for them. Start a persistent wineserver and those processes
        # here, detached from any pipe; later runs find them up.
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=60, **quiet)
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env, timeout=300, **quiet)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def scratch(self, *parts):
        """A path inside the scratch folder (not inside the prefix)."""
        return os.path.join(self.tmp, *parts)

    def run(self, args, timeout=300, env=None, **kw):
        """Runs wine with args; returns the CompletedProcess (bytes)."""
        e = dict(self.env)
        e.update(env or {})
        return subprocess.run(["wine", *args], env=e, capture_output=True, timeout=timeout, **kw)

    def regsvr32(self, dll, *flags):
        return self.run(["regsvr32", *flags, "/s", winpath(dll)])

    def reg_query(self, key, *extra):
        """`reg query` output as text, or None when the key is not there."""
        r = self.run(["reg", "query", key, *extra])
        if r.returncode != 0:
            return None
        return r.stdout.decode("utf-8", errors="replace").replace("\r\n", "\n")

    def cscript(self, script, *args, timeout=300, env=None):
        return self.run(["cscript", "//nologo", winpath(script), *args], timeout=timeout, env=env)

    def install_dll(self, folder_name="Hanamail"):
        """Copies the DLL under test into a folder of the scratch area and
        returns its Linux path."""
        folder = self.scratch(folder_name)
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, "Hanamail.dll")
        shutil.copy(dll_path(), target)
        return target

    def wait(self):
        """Stops the prefix's wineserver with every Wine process (a program
        still running is ended) and starts it again: the persistent server
        never exits by itself, so there is no waiting for it."""
        subprocess.run(["wineserver", "-k"], env=self.env, capture_output=True, timeout=60)
        self._start_server()
