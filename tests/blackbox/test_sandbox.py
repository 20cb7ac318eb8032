"""The core's sandbox, against the stand-in project in a private network namespace: a hostile core's every
attempt to reach beyond its work directory is refused while its unit still completes and is returned; with
the sandbox turned off the same attempts succeed (so this test can fail); a static i386 core works its unit
confined; and a kernel without Landlock still runs the core and says what is missing."""
import os
import shutil
import socket
import tempfile
import unittest

from test_exchanges import CONFIG, USER_ID, ExchangeTest  # (puts tools/ on the path, too)
from harness import unstamped, wait_until  # noqa: E402
from stand_in_project import Unit  # noqa: E402

HOSTILE_CORE = os.environ.get("QVN_HOSTILE_CORE", "")
I386_CORE = os.environ.get("QVN_DEMO_CORE_I386", "")
ACCEPTED = "Thank you for your contribution to Quorvane.\n"
ATTEMPTS = ["read-secret", "write-config", "plant-file", "tcp-connect", "udp-socket", "huge-file", "signal-client"]
FAST = {"QVN_CORE_STEPS": "2", "QVN_CORE_STEP_MS": "10"}


class Sandbox(ExchangeTest):
    def setUp(self):
        super().setUp()
        self.project.units.append(Unit(core=0x65, payload=bytes(range(256)) * 8, deadline=86400))

    def hostile_run(self, config):
        """Runs the hostile core as the unit's core; returns (client, workdir, report lines, listener)."""
        elsewhere = tempfile.TemporaryDirectory(prefix="qvn-secret-")
        self.addCleanup(elsewhere.cleanup)
        secret = os.path.join(elsewhere.name, "secret.txt")
        with open(secret, "w") as f:
            f.write("the volunteer's own")
        listener = socket.socket()
        self.addCleanup(listener.close)
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        listener.setblocking(False)
        wd = self.workdir(core=False, config=config, user_id=USER_ID)
        shutil.copy(HOSTILE_CORE, os.path.join(wd, "QvnCore_65.exe"))
        env = dict(FAST, QVN_HOSTILE_SECRET=secret, QVN_HOSTILE_PORT=str(listener.getsockname()[1]))
        client = self.start(wd, env=env)
        report = os.path.join(wd, "work", "hostile.txt")

        def reported():
            if not os.path.exists(report):
                return False
            with open(report) as f:
                return "signal-client:" in f.read()
        self.assertTrue(wait_until(reported, 60), client.output())
        with open(report) as f:
            lines = dict(line.rstrip("\n").split(": ", 1) for line in f)
        self.assertEqual(sorted(lines), sorted(ATTEMPTS))
        return client, wd, lines, listener

    @unittest.skipUnless(HOSTILE_CORE, "no hostile core built")
    def test_a_hostile_core_is_refused_everything_and_its_unit_still_completes(self):
        client, wd, lines, listener = self.hostile_run(CONFIG)
        for attempt in ATTEMPTS:
            self.assertTrue(lines[attempt].startswith("refused"), "%s: %s" % (attempt, lines[attempt]))
        self.wait_log(client, ACCEPTED)
        self.assertIsNone(client.proc.poll(), "the core's SIGTERM reached the client")
        with open(os.path.join(wd, "client.cfg")) as f:
            saved = f.read()
        self.assertTrue(saved.startswith(CONFIG.split("\n\n")[0]), saved)  # the client's own (it counts units)
        self.assertNotIn("owned", saved)
        self.assertFalse(os.path.exists(os.path.join(wd, "planted.txt")))
        with self.assertRaises(BlockingIOError):
            listener.accept()
        self.assertEqual(len(self.project.accepted), 1)
        self.stop(client)

    @unittest.skipUnless(HOSTILE_CORE, "no hostile core built")
    def test_without_the_sandbox_the_same_core_gets_everything(self):
        client, wd, lines, listener = self.hostile_run(CONFIG + "[sandbox]\ncore=no\n\n")
        for attempt in ATTEMPTS:
            self.assertEqual(lines[attempt], "done", attempt)
        status, out = client.finish(timeout=30)  # the core's SIGTERM ended the client
        self.assertEqual(status, 0, out)
        self.assertIn("- Core sandbox: off (sandbox core=no); cores run with all of this user's rights\n",
                      unstamped(out))
        with open(os.path.join(wd, "client.cfg")) as f:
            self.assertIn("owned=yes", f.read())
        self.assertTrue(os.path.exists(os.path.join(wd, "planted.txt")))
        connection, _ = listener.accept()
        connection.close()

    @unittest.skipUnless(I386_CORE, "no 32-bit compiler libraries: the i386 core was not built")
    def test_a_static_i386_core_works_its_unit_confined(self):
        wd = self.workdir(core=False, user_id=USER_ID)
        shutil.copy(I386_CORE, os.path.join(wd, "QvnCore_65.exe"))
        client = self.start(wd, env=FAST)
        self.wait_log(client, ACCEPTED)
        self.assertNotIn("Core sandbox", client.output())
        self.stop(client)

    def test_a_kernel_without_landlock_still_runs_the_core_and_says_what_is_missing(self):
        wd = self.workdir(user_id=USER_ID)
        client = self.start(wd, env=dict(FAST, QVN_TEST_LANDLOCK_ABI="0"))
        self.wait_log(client, ACCEPTED)
        log = unstamped(client.log())
        self.assertIn("- Core sandbox: kernel lacks file rules; core may read and write this user's files\n", log)
        self.assertIn("- Core sandbox: kernel lacks signal scoping; core may signal this user's processes\n", log)
        self.assertNotIn("core may use the network", log)  # the system-call filter still holds sockets shut
        self.stop(client)


if __name__ == "__main__":
    unittest.main()
