"""Port 25 of their own for the sending tests: the component has no port
setting, so those tests run again inside a private network namespace (user
namespace mapped to root, loopback up), where they may bind port 25."""
import os
import subprocess
import sys

NETNS_FLAG = "HANAMAIL_IN_NETNS"
SKIP = 77


def enter_netns(script):
    """Re-runs script (normally __file__) in a network namespace of its own;
    exits with SKIP, saying why, where the kernel refuses user namespaces.
    Returns at once when already inside."""
    if os.environ.get(NETNS_FLAG) == "1":
        return
    probe = subprocess.run(["unshare", "--user", "--map-root-user", "--net", "true"], capture_output=True)
    if probe.returncode != 0:
        print("SKIPPED: this kernel refuses user namespaces (%s); the sending tests need port 25 of their own"
              % probe.stderr.decode(errors="replace").strip())
        sys.exit(SKIP)
    os.environ[NETNS_FLAG] = "1"
    os.execvp("unshare", ["unshare", "--user", "--map-root-user", "--net", "sh", "-c",
                          'ip link set lo up && exec "$0" "$@"', sys.executable, os.path.abspath(script),
                          *sys.argv[1:]])
