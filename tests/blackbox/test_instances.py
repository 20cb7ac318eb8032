"""Four clients on one machine, prepared as the template unit qvn3@.service prepares them (its commands, run
here outside systemd) and started together against the stand-in project (in a private network namespace):
one user ID request in all, four identities (user ID plus machine ID 1 to 4) in the work requests, every
result accepted, the seed copied owner-only, and one metrics copy per instance."""
import os
import pathlib
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from harness import Client, unstamped, wait_until  # noqa: E402
from stand_in_project import Project, Unit  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
SEED_COMMAND = ROOT / "packaging" / "qvn3-seed"
PREPARE_COMMAND = ROOT / "packaging" / "qvn3-prepare"
CLIENT = os.environ.get("QVN3", "")
CORE = os.environ.get("QVN_DEMO_CORE", "")
SEED = ("[settings]\r\nusername=Lab 12\r\nteam=77\r\nasknet=no\r\n\r\n"
        "[http]\r\nactive=no\r\nhost=localhost\r\nport=8080\r\n")
USER_ID = 0x10000002A  # what the stand-in hands out
USER_ID_REQUEST, WORK_REQUEST = 11, 100


def bodies(requests):
    return [r.partition(b"\r\n\r\n")[2] for r in requests]


class Instances(unittest.TestCase):
    def setUp(self):
        self.project = Project().start()
        self.addCleanup(self.project.stop)
        tmp = tempfile.TemporaryDirectory(prefix="qvn-instances-")
        self.addCleanup(tmp.cleanup)
        self.parent = os.path.join(tmp.name, "qvn3-instances")  # what StateDirectory= makes
        self.metrics = os.path.join(tmp.name, "qvn3-metrics")   # and RuntimeDirectory=
        os.makedirs(self.metrics)
        self.seed = os.path.join(tmp.name, "client.cfg")
        with open(self.seed, "w", newline="") as f:
            f.write(SEED)
        os.chmod(self.seed, 0o600)

    def start_instance(self, n):
        workdir = os.path.join(self.parent, str(n))
        # ExecStartPre=+qvn3-seed %S/qvn3-instances/%i: makes the instance's directory, copies the seed
        seeded = subprocess.run([str(SEED_COMMAND), workdir, self.seed], capture_output=True, text=True, timeout=30)
        self.assertEqual(seeded.returncode, 0, seeded.stderr)
        self.assertEqual(stat.S_IMODE(os.stat(workdir).st_mode), 0o700)
        shutil.copy(CORE, os.path.join(workdir, "QvnCore_65.exe"))  # (the stand-in project serves no core)
        # ExecStart=qvn3-prepare %i qvn3, in WorkingDirectory=%S/qvn3-instances/%i
        client = Client([str(n), CLIENT], workdir=workdir, program=str(PREPARE_COMMAND),
                        env={"QVN3_METRICS_COPY": os.path.join(self.metrics, "qvn3-%d.prom" % n),
                             "QVN_CORE_STEPS": "3", "QVN_CORE_STEP_MS": "10"})
        self.addCleanup(client.close)
        return client

    def test_four_instances_share_one_user_id_and_differ_in_machine_id(self):
        self.project.units.extend(Unit(core=0x65, payload=b"unit %d" % i * 20) for i in range(4))
        os.makedirs(self.parent, mode=0o700)
        clients = [self.start_instance(n) for n in (1, 2, 3, 4)]

        def accepted_everywhere():
            return all(os.path.exists(os.path.join(c.workdir, "QVNlog.txt")) and
                       "Thank you for your contribution to Quorvane.\n" in unstamped(c.log()) for c in clients)
        self.assertTrue(wait_until(accepted_everywhere, 180),
                        "\n\n".join(unstamped(c.output())[-1500:] for c in clients))

        assignment = bodies(self.project.requests["primary"] + self.project.requests["secondary"])
        types = [struct.unpack_from(">I", b, 0)[0] for b in assignment]
        self.assertEqual(types.count(USER_ID_REQUEST), 1, types)
        work = [b for b in bodies(self.project.requests["work"]) if struct.unpack_from(">I", b, 0)[0] == WORK_REQUEST]
        identities = {struct.unpack_from(">Q", b, 288)[0] for b in work}
        self.assertTrue({USER_ID + n for n in (1, 2, 3, 4)} <= identities, sorted(map(hex, identities)))
        self.assertEqual(len(self.project.accepted), len(self.project.results), "every result accepted")
        self.assertGreaterEqual(len(self.project.accepted), 4)

        with open(os.path.join(self.parent, "machinedependent.dat"), "rb") as f:
            shared = f.read()
        self.assertEqual(shared, struct.pack("<Q", USER_ID))
        for n, c in enumerate(clients, 1):
            with open(os.path.join(c.workdir, "machinedependent.dat"), "rb") as f:
                self.assertEqual(f.read(), shared)
            cfg_path = os.path.join(c.workdir, "client.cfg")
            self.assertEqual(stat.S_IMODE(os.stat(cfg_path).st_mode), 0o600)
            with open(cfg_path, newline="") as f:
                cfg = f.read()
            self.assertIn("username=Lab 12", cfg)
            self.assertIn("machineid=%d" % n, cfg)
            self.assertIn("- Machine ID: %d\n" % n, unstamped(c.log()))
            with open(os.path.join(self.metrics, "qvn3-%d.prom" % n)) as f:
                self.assertIn('machine_id="%d"' % n, f.read())
        for c in clients:
            c.signal(15)
            status, out = c.finish(timeout=30)
            self.assertEqual(status, 0, out[-2000:])

    def test_a_configuration_in_place_is_kept_and_a_bad_instance_is_refused(self):
        os.makedirs(self.parent, mode=0o700)
        workdir = os.path.join(self.parent, "2")
        os.makedirs(workdir, mode=0o700)
        own = "[settings]\nusername=Mine\nteam=1\nasknet=no\nmachineid=1\n"
        with open(os.path.join(workdir, "client.cfg"), "w") as f:
            f.write(own)
        seeded = subprocess.run([str(SEED_COMMAND), workdir, self.seed], capture_output=True, text=True, timeout=30)
        self.assertEqual(seeded.returncode, 0, seeded.stderr)
        with open(os.path.join(workdir, "client.cfg")) as f:
            self.assertEqual(f.read(), own, "the seed never replaces a configuration")
        refused = subprocess.run([str(PREPARE_COMMAND), "5", CLIENT], cwd=workdir, capture_output=True, text=True,
                                 timeout=30)
        self.assertEqual(refused.returncode, 64)
        self.assertIn('instance "5" is not a machine ID (1 to 4)', refused.stderr)


if __name__ == "__main__":
    unittest.main()
