"""Port 25 of their own for the sending tests: the component has no port
setting, so those tests run again inside a private network namespace (user
namespace mapped to root, loopback up), where they may bind port 25."""
import os
import subprocess
import sys
import tempfile

NETNS_FLAG = "HANAMAIL_IN_NETNS"
SKIP = 77


def enter_netns(script, hosts=None):
    """Re-runs script (normally __file__) in a network namespace of its own;
    exits with SKIP, saying why, where the kernel refuses user namespaces.
    Returns at once when already inside. hosts, when given, is the text of
    the /etc/hosts the run sees (through a mount namespace of its own), so a
    test can have names resolve to loopback addresses in the order it wants."""
    if os.environ.get(NETNS_FLAG) == "1":
        return
    mount = ["--mount"] if hosts is not None else []
    probe = subprocess.run(["unshare", "--user", "--map-root-user", "--net", *mount, "true"], capture_output=True)
    if probe.returncode != 0:
        print("SKIPPED: this kernel refuses user namespaces (%s); the sending tests need port 25 of their own"
              % probe.stderr.decode(errors="replace").strip())
        sys.exit(SKIP)
    os.environ[NETNS_FLAG] = "1"
    setup = "ip link set lo up"
    if hosts is not None:
        fd, path = tempfile.mkstemp(prefix="hanamail-hosts-")
        with os.fdopen(fd, "w") as f:
            f.write(hosts)
        # The mount keeps the file's contents after its name is gone.
        setup += ' && mount --bind "$HANAMAIL_HOSTS" /etc/hosts && rm -f "$HANAMAIL_HOSTS"'
        os.environ["HANAMAIL_HOSTS"] = path
    os.execvp("unshare", ["unshare", "--user", "--map-root-user", "--net", *mount, "sh", "-c",
                          setup + ' && exec "$0" "$@"', sys.executable, os.path.abspath(script), *sys.argv[1:]])
