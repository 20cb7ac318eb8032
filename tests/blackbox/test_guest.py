"""The core as a good guest: paused while the machine runs on battery, while other programs keep it busy and
outside the allowed hours, resumed after the quiet time; its deadline and a SIGTERM to the client still end a
paused run as they end a running one. The power supplies, the hour and the check interval come from the test
client's seams; the core's state is read from /proc."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from harness import Client, prepare, unstamped, wait_until
from queue_image import entry, queue, slot_state

CORE = os.environ.get("QVN_DEMO_CORE", "")
NOW = int(time.time()) - 946684800
CONFIG = ("[settings]\nusername=Volunteer\nteam=42\nasknet=no\nmachineid=1\n\n"
          "[http]\nactive=no\nhost=localhost\nport=8080\n\n")
SLOW = {"QVN_CORE_STEPS": "600", "QVN_CORE_STEP_MS": "100", "QVN_TEST_GUEST_CHECK_MS": "200"}


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


class Guest(unittest.TestCase):
    def start(self, guest="resume_after=1\n", deadline=None, env=None, workdir=None):
        if workdir is None:
            tmp = tempfile.TemporaryDirectory(prefix="qvn-guest-")
            self.addCleanup(tmp.cleanup)
            workdir = tmp.name
            extra = {} if deadline is None else {"deadline_known": 1, "deadline": deadline, "deadline_seconds": 100}
            prepare(workdir, config=CONFIG + "[guest]\n" + guest + "\n",
                    queue=queue([entry(1, received=NOW - 60, core=0x65, address=0x7F000001, port=8080, **extra)]))
            os.mkdir(os.path.join(workdir, "work"))
            write(os.path.join(workdir, "work", "wudata_00.dat"), "data " * 100)
            shutil.copy(CORE, os.path.join(workdir, "QvnCore_65.exe"))
        client = Client([], workdir=workdir, env=dict(SLOW, **(env or {})))
        self.addCleanup(client.close)
        return client

    def power(self, mains_online):
        """A fake power-supply root with a battery and a mains supply."""
        if not hasattr(self, "supplies"):
            tmp = tempfile.TemporaryDirectory(prefix="qvn-power-")
            self.addCleanup(tmp.cleanup)
            self.supplies = tmp.name
            for name, kind in (("BAT0", "Battery"), ("AC", "Mains")):
                os.mkdir(os.path.join(self.supplies, name))
                write(os.path.join(self.supplies, name, "type"), kind + "\n")
            write(os.path.join(self.supplies, "BAT0", "status"), "Charging\n")
        write(os.path.join(self.supplies, "AC", "online"), "1\n" if mains_online else "0\n")
        return self.supplies

    def wait_log(self, client, text, timeout=60, after=None):
        def logged():
            path = os.path.join(client.workdir, "QVNlog.txt")
            if not os.path.exists(path):
                return False
            log = unstamped(client.log())
            return text in (log.split(after, 1)[-1] if after else log)
        self.assertTrue(wait_until(logged, timeout), "not logged: %r\n%s" % (text, client.output()))

    def core_state(self, client):
        """The state letter of the core this client runs (T: stopped), or None when none runs."""
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    words = f.read().split(b"\0")
                with open("/proc/%s/stat" % pid) as f:
                    state = f.read().rsplit(")", 1)[1].split()[0]
            except OSError:
                continue
            if words[0] == b"./QvnCore_65.exe" and str(client.proc.pid).encode() in words:
                return state
        return None

    def stop(self, client):
        client.signal(signal.SIGTERM)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)

    def test_on_battery_the_core_pauses_and_mains_resumes_it_after_the_quiet_time(self):
        client = self.start(env={"QVN_TEST_POWER_ROOT": self.power(mains_online=True)})
        self.wait_log(client, "Finished 2 of 600 steps")
        self.assertNotEqual(self.core_state(client), "T")
        self.power(mains_online=False)
        self.wait_log(client, "+ Pausing core: on battery\n")
        self.assertEqual(self.core_state(client), "T")
        with open(os.path.join(client.workdir, "unitinfo.txt")) as f:
            self.assertIn("State: paused (on battery)\n", f.read())
        with open(os.path.join(client.workdir, "MyQuorvane.html")) as f:
            self.assertIn("Core: paused (on battery)", f.read())
        back = time.monotonic()
        self.power(mains_online=True)
        self.wait_log(client, "+ Resuming core\n")
        self.assertGreaterEqual(time.monotonic() - back, 1.0, "resumed before the quiet time")
        self.assertNotEqual(self.core_state(client), "T")
        self.wait_log(client, "Finished", after="+ Resuming core\n")  # it works on
        log = unstamped(client.log())
        self.assertEqual((log.count("+ Pausing core"), log.count("+ Resuming core")), (1, 1))
        self.stop(client)

    def test_a_busy_machine_pauses_the_core_until_the_load_ends(self):
        client = self.start(guest="busy_percent=90\nresume_after=1\n")
        self.wait_log(client, "Finished 2 of 600 steps")
        hogs = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(os.cpu_count() or 2)]
        try:
            self.wait_log(client, "+ Pausing core: busy\n")
            self.assertEqual(self.core_state(client), "T")
        finally:
            for hog in hogs:
                hog.kill()
                hog.wait()
        self.wait_log(client, "+ Resuming core\n", timeout=120)
        self.stop(client)

    def test_outside_the_hours_the_core_is_paused_from_its_start_and_its_deadline_still_ends_it(self):
        margin = 6
        client = self.start(guest="hours=22-7\n", deadline=int(time.time()) + margin - 946684800,
                            env={"QVN_TEST_LOCAL_HOUR": "12"})
        self.wait_log(client, "+ Pausing core: outside hours\n")
        self.assertEqual(self.core_state(client), "T")
        # the deadline passes while it is paused: continued, then interrupted, with the design's messages
        self.wait_log(client, "Going to interrupt core and move on to next unit...\n", timeout=margin + 60)
        self.wait_log(client, "CoreStatus = 66 (102)\n")
        self.assertFalse(os.path.exists(os.path.join(client.workdir, "work", "wudata_00.dat")))
        self.stop(client)

    def test_ctrl_c_during_a_pause_reaches_the_core_as_it_would_a_running_one(self):
        client = self.start(guest="hours=22-7\n", env={"QVN_TEST_LOCAL_HOUR": "12"})
        self.wait_log(client, "+ Pausing core: outside hours\n")
        client.signal_group(signal.SIGINT)  # what the terminal does on Ctrl-C
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        self.assertIn("CoreStatus = 66 (102)\n+ Shutdown requested by user. Exiting.", unstamped(out))

    def test_a_sigterm_during_a_pause_ends_the_client_and_the_unit_runs_at_the_next_start(self):
        client = self.start(guest="hours=22-7\n", env={"QVN_TEST_LOCAL_HOUR": "12"})
        self.wait_log(client, "+ Pausing core: outside hours\n")
        self.stop(client)
        # the core, continued, sees its client gone and stops; the unit is kept for the next start
        self.assertTrue(wait_until(lambda: self.core_state(client) is None, 30))
        with open(os.path.join(client.workdir, "queue.dat"), "rb") as f:
            self.assertEqual(slot_state(f.read(), 0), 1)
        again = self.start(workdir=client.workdir)
        self.wait_log(again, "Working on Unit 00", after="Quorvane Client Shutdown.")
        self.stop(again)


if __name__ == "__main__":
    unittest.main()
