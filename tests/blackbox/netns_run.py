#!/usr/bin/env python3
"""Runs a command inside a private network and mount namespace, where the client and its stand-in servers
can use the fixed ports 8080 and 80 on loopback and nothing reaches any other network.

  netns_run.py COMMAND...

Inside: the loopback interface is up, and /etc/hosts (a private copy, bound over the real one for this
namespace only) maps the client's two assignment host names to 127.0.0.2 and 127.0.0.3. The names come
from QVN_PRIMARY_HOST and QVN_SECONDARY_HOST. Root uses `unshare -n -m`; anyone else `unshare -r -n -m`.
"""
import os
import subprocess
import sys
import tempfile

PRIMARY_ADDRESS = "127.0.0.2"
SECONDARY_ADDRESS = "127.0.0.3"


def inside(command):
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    hosts = tempfile.NamedTemporaryFile("w", prefix="qvn-hosts-", delete=False)
    hosts.write("127.0.0.1 localhost\n%s %s\n%s %s\n" % (
        PRIMARY_ADDRESS, os.environ.get("QVN_PRIMARY_HOST", "assign1.quorvane.org"),
        SECONDARY_ADDRESS, os.environ.get("QVN_SECONDARY_HOST", "assign2.quorvane.org")))
    hosts.close()
    os.chmod(hosts.name, 0o644)
    subprocess.run(["mount", "--bind", hosts.name, "/etc/hosts"], check=True)
    try:
        return subprocess.run(command).returncode
    finally:
        subprocess.run(["umount", "/etc/hosts"])
        os.unlink(hosts.name)


def main():
    if os.environ.get("QVN_IN_NETNS") == "1":
        return inside(sys.argv[1:])
    flags = ["-n", "-m"] if os.geteuid() == 0 else ["-r", "-n", "-m"]
    environment = dict(os.environ, QVN_IN_NETNS="1")
    return subprocess.run(["unshare"] + flags + ["--", sys.executable, os.path.abspath(__file__)] + sys.argv[1:],
                          env=environment).returncode


if __name__ == "__main__":
    sys.exit(main())
