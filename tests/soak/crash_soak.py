#!/usr/bin/env python3
"""Crash soak: the client works units from the stand-in project while it is killed with SIGKILL at random
moments (during a fetch, a core run, a core installation, a send, a save) and started again. Run it inside a
private network namespace (tests/blackbox/netns_run.py). After every kill it checks that queue.dat,
client.cfg and machinedependent.dat load whole, that the user ID never changes once obtained, that a core on
disk is never half-written, and that no slot holds a unit the server never handed out; at the end, that
every unit seen DONE had its result received by the work server. It prints the figures.

  crash_soak.py --client QVN3 --core DEMO_CORE [--kills N] [--seed S]
The client must be qvn3_testing built with the test key (its waits are shortened from the environment).
"""
import argparse
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

import make_bundle  # noqa: E402
from stand_in_project import Project, Unit, expected_result  # noqa: E402

TEST_KEY = os.path.join(HERE, "..", "runtime", "fixtures", "test_key.private.json")
CONFIG = ("[settings]\nusername=Soak\nteam=7\nasknet=no\n\n"
          "[http]\nactive=no\nhost=localhost\nport=8080\n\n")
QUEUE_SIZE = 7016
ENTRY = 700


class Soak:
    def __init__(self, client, core, seed):
        self.client = client
        self.rng = random.Random(seed)
        with open(core, "rb") as f:
            self.core = f.read()
        with open(TEST_KEY) as f:
            key = json.load(f)
        self.project = Project()
        self.units = {}
        for n in range(5000):
            unit = Unit(core=0x65, payload=self.rng.randbytes(4096), deadline=86400, name="soak %d" % n)
            self.units[unit.name] = unit
            self.project.units.append(unit)
        self.project.files["/cores/Core_65.qvn"] = make_bundle.bundle(key, self.core)
        # Every third result is answered "signature mismatch", so units wait DONE in the queue and are sent
        # again later, across kills.
        self.project.answers.extend(444 if n % 3 == 0 else 400 for n in range(20000))
        self.workdir = tempfile.mkdtemp(prefix="qvn-soak-")
        with open(os.path.join(self.workdir, "client.cfg"), "w") as f:
            f.write(CONFIG)
        self.user_id = None
        self.seen_done = set()
        self.problems = []

    def start_client(self):
        environment = dict(os.environ, QVN_CORE_STEPS="4", QVN_CORE_STEP_MS="50", QVN_TEST_RETRY_DIVISOR="1000",
                           QVN_TEST_EXCHANGE_LIMIT_MS="3000")
        out = open(os.path.join(self.workdir, ".console"), "ab")
        return subprocess.Popen([self.client], cwd=self.workdir, stdin=subprocess.DEVNULL, stdout=out,
                                stderr=subprocess.STDOUT, env=environment, start_new_session=True)

    def read(self, name):
        path = os.path.join(self.workdir, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def problem(self, text):
        self.problems.append(text)
        print("PROBLEM: " + text, flush=True)

    def check_files(self, when):
        image = self.read("queue.dat")
        if image is not None:
            if len(image) != QUEUE_SIZE or struct.unpack_from("<I", image, 0)[0] != 325:
                self.problem("%s: queue.dat is not whole (%d bytes)" % (when, len(image)))
            else:
                for slot in range(10):
                    entry = image[8 + slot * ENTRY:8 + (slot + 1) * ENTRY]
                    state = struct.unpack_from("<I", entry, 0)[0]
                    if state > 4 or state == 3:
                        self.problem("%s: slot %d stored in state %d" % (when, slot, state))
                    if state in (1, 2):
                        name = entry[172 + 96:172 + 160].split(b"\0", 1)[0].decode("latin-1")
                        if name not in self.units or self.units[name] not in self.project.handed_out:
                            self.problem("%s: slot %d holds %r, which the server never handed out" % (when, slot, name))
                        elif state == 2:
                            self.seen_done.add(name)
        config = self.read("client.cfg")
        if config is not None and not (config.startswith(b"[settings]\n") and b"username=Soak\n" in config
                                       and config.endswith(b"\n\n")):
            self.problem("%s: client.cfg is not whole: %r" % (when, config[:120]))
        identity = self.read("machinedependent.dat")
        if identity is not None:
            if len(identity) != 8:
                self.problem("%s: machinedependent.dat has %d bytes" % (when, len(identity)))
            elif self.user_id is None:
                self.user_id = identity
            elif identity != self.user_id:
                self.problem("%s: the user ID changed" % when)
        core = self.read("QvnCore_65.exe")
        if core is not None and core != self.core:
            self.problem("%s: the core on disk is half-written (%d of %d bytes)" % (when, len(core), len(self.core)))

    def kill_loop(self, kills):
        for k in range(kills):
            client = self.start_client()
            # start-up measures the processor for a few seconds; most kills land after it
            time.sleep(self.rng.uniform(0.05, 7.0))
            try:
                os.killpg(client.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            client.wait()
            self.check_files("after kill %d" % (k + 1))

    def settle(self, timeout):
        """Runs undisturbed until every result seen DONE was received, then stops the client."""
        client = self.start_client()
        deadline = time.monotonic() + timeout
        started = len(self.read(".console") or b"")
        # SIGTERM ends the client cleanly once its work cycle runs: wait for that, then for the results
        while time.monotonic() < deadline and b"+ Processing work unit" not in (self.read(".console") or b"")[started:]:
            time.sleep(0.2)
        while time.monotonic() < deadline and self.lost():
            time.sleep(0.5)
        client.send_signal(signal.SIGTERM)
        try:
            status = client.wait(timeout=30)
        except subprocess.TimeoutExpired:
            status = None
        try:
            os.killpg(client.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        if status != 0:
            self.problem("the client ended with status %s on SIGTERM" % status)
        self.check_files("at the end")

    def lost(self):
        received = {r for _, r in self.project.results}
        return sorted(n for n in self.seen_done if expected_result(self.units[n].payload) not in received)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--client", required=True)
    parser.add_argument("--core", required=True)
    parser.add_argument("--kills", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None)
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    # first, so that a run that hangs or crashes can still be replayed with --seed
    print("soak seed %d (replay: --seed %d)" % (seed, seed), flush=True)
    soak = Soak(os.path.abspath(args.client), args.core, seed)
    soak.project.start()
    try:
        soak.kill_loop(args.kills)
        soak.settle(120)
    finally:
        soak.project.stop()
    results = [r for _, r in soak.project.results]
    twice = len(results) - len(set(results))
    lost = soak.lost()
    for name in lost:
        soak.problem("%s reached DONE but its result never arrived" % name)
    print("soak (seed %d): %d kills, %d units fetched, %d results received, %d accepted, %d received twice, "
          "%d units seen DONE, %d lost, %d problems" % (seed, args.kills, len(soak.project.handed_out), len(results),
                                                        len(soak.project.accepted), twice, len(soak.seen_done),
                                                        len(lost), len(soak.problems)))
    if not soak.problems:
        shutil.rmtree(soak.workdir)
    else:
        print("working directory kept: %s" % soak.workdir)
    return 1 if soak.problems else 0


if __name__ == "__main__":
    sys.exit(main())
