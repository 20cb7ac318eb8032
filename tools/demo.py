#!/usr/bin/env python3
"""The demo's project and volunteer, run inside a private network namespace by ./demo: starts the stand-in
project (assignment, work and core servers; the demo core packed into a bundle signed with the test key; the
work server accepts a result only when it is the right digest of its unit), runs the client on a fresh
working directory with the real console, stops it with SIGTERM once enough results are accepted, and prints
a summary."""
import argparse
import json
import os
import random
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import make_bundle  # noqa: E402
from stand_in_project import Project, Unit  # noqa: E402

TEST_KEY = os.path.join(HERE, "..", "tests", "runtime", "fixtures", "test_key.private.json")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--client", required=True)
    parser.add_argument("--core", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--units", type=int, default=4)
    parser.add_argument("--timeout", type=float, default=150.0)
    args = parser.parse_args()

    with open(TEST_KEY) as f:
        key = json.load(f)
    with open(args.core, "rb") as f:
        core = f.read()
    project = Project(check_results=True, news="Thank you for trying the Quorvane demo")
    rng = random.Random()
    for n in range(args.units + 20):
        project.units.append(Unit(core=0x65, payload=rng.randbytes(64 * 1024), deadline=86400,
                                  name="demo unit %d" % (n + 1)))
    project.files["/cores/Core_65.qvn"] = make_bundle.bundle(key, core)
    project.start()

    environment = dict(os.environ, QVN_CORE_STEPS="10", QVN_CORE_STEP_MS="200")
    client = subprocess.Popen([os.path.abspath(args.client)], cwd=args.workdir, stdin=subprocess.DEVNULL,
                              env=environment, start_new_session=True)
    deadline = time.monotonic() + args.timeout
    while time.monotonic() < deadline and len(project.accepted) < args.units and client.poll() is None:
        time.sleep(0.5)
    if client.poll() is None:
        client.send_signal(signal.SIGTERM)
        try:
            client.wait(timeout=30)
        except subprocess.TimeoutExpired:
            client.kill()
            client.wait()
    try:
        os.killpg(client.pid, signal.SIGKILL)  # a core still running
    except ProcessLookupError:
        pass
    project.stop()
    accepted = len(project.accepted)
    print()
    print("=" * 79)
    print("Demo summary: %d units fetched, %d results sent, %d accepted by the work server (client status %s)"
          % (len(project.handed_out), len(project.results), accepted, client.returncode))
    print("The client's working directory: %s (QVNlog.txt holds the whole log)" % args.workdir)
    print("=" * 79)
    return 0 if accepted >= min(3, args.units) and client.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
