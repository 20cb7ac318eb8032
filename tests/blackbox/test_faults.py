"""The client under faults a volunteer meets: hand-edited settings, a failed user-ID request, a console
that went away, files' permissions, and a deadline interrupt of a core without a SIGTERM handler."""
import os
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import unittest

from harness import CLIENT, Client, prepare, unstamped, wait_until
from queue_image import entry, queue, slot_state

NOW = int(time.time()) - 946684800


def read(workdir, name):
    with open(os.path.join(workdir, name), encoding="latin-1") as f:
        return f.read()


def workdir(test, **files):
    tmp = tempfile.TemporaryDirectory(prefix="qvn-faults-")
    test.addCleanup(tmp.cleanup)
    if files:
        prepare(tmp.name, **files)
    return tmp.name


class Settings(unittest.TestCase):
    def test_a_hand_edited_crlf_file_keeps_every_key_across_a_save(self):
        # no machineid: the run stores one, so the whole file is written back
        edited = ("# my settings\r\n[settings]\r\nusername=Ann\r\nteam=7\r\n\r\nasknet=no\r\n\r\n"
                  "[http]\r\nactive=no\r\nhost=localhost\r\nport=8080")
        wd = workdir(self, config=edited)
        client = Client(["-queueinfo"], workdir=wd)
        self.addCleanup(client.close)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        self.assertIn("- User name: Ann (Team 7)\n", unstamped(out))
        self.assertEqual(read(wd, "client.cfg"),
                         "[settings]\nusername=Ann\nteam=7\nasknet=no\nmachineid=1\n\n"
                         "[http]\nactive=no\nhost=localhost\nport=8080\n\n")

    def test_a_failed_user_id_request_keeps_the_users_proxy(self):
        chosen = ("[settings]\nusername=Ann\nteam=7\nasknet=yes\n\n"
                  "[http]\nactive=yes\nhost=localhost\nport=3128\nusepasswd=no\n\n")
        wd = workdir(self, config=chosen, user_id=None)  # no ID yet, and no server to give one
        client = Client(["-verbosity", "4"], workdir=wd)
        self.addCleanup(client.close)
        # the first load fails, defaults are written, the dialogue keeps the stored answers, and the
        # second load fails again
        failed = "- Fatal: Could not get new user ID\n"
        self.assertTrue(wait_until(lambda: client.output().count(failed) >= 2, 60), client.output())
        self.assertIn("Configuring Quorvane...", client.output())
        saved = read(wd, "client.cfg")
        for line in ("asknet=yes\n", "active=yes\n", "host=localhost\n", "port=3128\n"):
            self.assertIn(line, saved)


class Files(unittest.TestCase):
    def test_files_the_client_creates_are_not_executable(self):
        config = ("[settings]\nusername=Ann\nteam=7\nasknet=no\n\n"
                  "[http]\nactive=no\nhost=localhost\nport=8080\n\n")
        wd = workdir(self, config=config)
        client = Client(["-queueinfo"], workdir=wd)
        self.addCleanup(client.close)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        for name in ("client.cfg", "QVNlog.txt", "MyQuorvane.html", "queue.dat"):
            mode = stat.S_IMODE(os.stat(os.path.join(wd, name)).st_mode)
            self.assertEqual(mode & 0o111, 0, "%s is %o" % (name, mode))
            self.assertEqual(mode & 0o600, 0o600, "%s is %o" % (name, mode))

    def test_a_directory_others_can_write_is_refused_before_any_core_runs(self):
        # (what to change, the directory's mode, its group, the word in the message); None: not as this user
        own = os.getegid()
        foreign = 65534 if own != 65534 else 65533
        cases = [(".", 0o757, own, "Other users can write to the working directory"),
                 ("work", 0o777, own, "Other users can write to the work directory"),
                 (".", 0o770, foreign, "Other users can write to the working directory"),
                 (".", 0o775, own, None),  # a user-private group with umask 002 is the user's own
                 ("work", 0o1777, own, "Other users can write to the work directory")]
        if os.geteuid() == 0:
            cases.append((".", 0o700, "nobody", "The working directory belongs to another user"))
        for where, mode, group, refusal in cases:
            with self.subTest(where=where, mode=oct(mode), group=group):
                wd = workdir(self, queue=queue([entry(2, received=NOW - 60, completed=NOW - 30)]))
                target = os.path.join(wd, where)
                if where != ".":
                    os.mkdir(target)
                if group == "nobody":
                    os.chown(target, 65534, 65534)
                elif group != own:
                    if os.geteuid() != 0:
                        continue  # only root can hand a directory to a group it is not in
                    os.chown(target, -1, group)
                os.chmod(target, mode)
                client = Client(["-queueinfo"], workdir=wd)
                self.addCleanup(client.close)
                status, out = client.finish(timeout=30)
                os.chmod(target, 0o700)
                if refusal is None:
                    self.assertEqual(status, 0, out)
                    continue
                self.assertEqual(status, 255, out)
                self.assertIn(refusal + "; no core will run from it, exiting.\n", unstamped(out))
                self.assertNotIn("EMPTY", out)  # the queue listing was never reached

    def test_a_closed_console_does_not_end_the_client(self):
        wd = workdir(self, queue=queue([entry(2, received=NOW - 60, completed=NOW - 30)]))
        reader, writer = os.pipe()
        os.close(reader)  # like `qvn3 -queueinfo | head -c 0`: nobody reads the console
        try:
            proc = subprocess.run([CLIENT, "-queueinfo"], cwd=wd, stdin=subprocess.DEVNULL, stdout=writer,
                                  stderr=subprocess.DEVNULL, timeout=60)
        finally:
            os.close(writer)
        self.assertEqual(proc.returncode, 0)
        log = unstamped(read(wd, "QVNlog.txt"))
        self.assertIn("Queue Status:\n", log)
        self.assertIn("00 *DONE", log)  # the log still received everything


HANDLERLESS_CORE = """#!/bin/sh
# A core without a SIGTERM handler: it reports progress until it is simply killed.
case " $* " in *" -cleanup "*) rm -f "$2"wudata_"$4".dat; exit 101;; esac
while :; do echo "Finished 1 of 600 steps" >> "$2"logfile_"$4".txt; sleep 0.2; done
"""

SLOW_TO_STOP_CORE = """#!/bin/sh
# A core that takes three seconds to stop once asked: the deadline interrupt is under way all that time.
case " $* " in *" -cleanup "*) rm -f "$2"wudata_"$4".dat; exit 101;; esac
trap 'sleep 3; exit 102' TERM
while :; do echo "Finished 1 of 600 steps" >> "$2"logfile_"$4".txt; sleep 0.2; done
"""


class DeadlineInterrupt(unittest.TestCase):
    def unit_with_core(self, script, deadline):
        """A working directory whose one unit is due at deadline and whose core is the shell script."""
        wd = workdir(self, queue=queue([entry(1, received=NOW - 60, core=0x65, deadline_known=1,
                                              deadline=deadline, deadline_seconds=100)]))
        os.mkdir(os.path.join(wd, "work"))
        with open(os.path.join(wd, "work", "wudata_00.dat"), "wb") as f:
            f.write(b"data")
        core = os.path.join(wd, "QvnCore_65.exe")
        with open(core, "w") as f:
            f.write(script)
        os.chmod(core, 0o755)
        return wd

    def test_a_sigterm_while_the_interrupt_is_under_way_is_ignored(self):
        wd = self.unit_with_core(SLOW_TO_STOP_CORE, deadline=int(time.time()) - 946684800 + 15)
        client = Client(["-verbosity", "6"], workdir=wd)
        self.addCleanup(client.close)
        self.assertTrue(client.wait_for("Going to interrupt core", timeout=90), client.output())
        client.signal(signal.SIGTERM)  # within the core's three seconds
        self.assertTrue(client.wait_for("CoreStatus = 66 (102)", timeout=30), client.output())
        self.assertTrue(client.wait_for("- Error: Getwork #1 failed", timeout=30), client.output())
        self.assertNotIn("Got a SIGTERM", client.output())
        self.assertIsNone(client.proc.poll(), "the SIGTERM during the interrupt ended the client")
        client.signal(signal.SIGTERM)  # the interrupt is over: this one ends it
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        self.assertTrue(out.endswith("\nQuorvane Client Shutdown.\n"), out)

    def test_only_the_core_is_signalled_and_sigterm_stops_the_client_afterwards(self):
        # late enough to outlast start-up and the benchmark on a busy machine
        wd = self.unit_with_core(HANDLERLESS_CORE, deadline=int(time.time()) - 946684800 + 25)
        # The client shares its process group with a sleeper, as when a script or cron starts it.
        script = 'sleep 120 & echo $! > sleeper.pid; exec "$0" -verbosity 6'
        client = Client(["-c", script, CLIENT], workdir=wd, program="/bin/sh")
        self.addCleanup(client.close)
        self.assertTrue(wait_until(lambda: "Going to interrupt core" in client.output(), 90), client.output())
        self.assertTrue(client.wait_for("CoreStatus = 0 (0)", timeout=30), client.output())
        with open(os.path.join(wd, "sleeper.pid")) as f:
            sleeper = int(f.read())
        # still alive (not a zombie: the client, which the shell became, is its parent and never reaps it)
        with open("/proc/%d/stat" % sleeper) as f:
            self.assertNotIn(f.read().rsplit(")", 1)[1].split()[0], ("Z", "X"), "the sleeper was signalled")
        self.assertTrue(client.wait_for("- Error: Getwork #1 failed", timeout=30), client.output())
        client.signal(signal.SIGTERM)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        self.assertTrue(out.endswith("\nQuorvane Client Shutdown.\n"), out)
        with open(os.path.join(wd, "queue.dat"), "rb") as f:
            self.assertEqual(slot_state(f.read(), 0), 0)
        os.kill(sleeper, signal.SIGKILL)


class BoundedLog(unittest.TestCase):
    def test_a_log_past_its_limit_is_rotated_at_the_start_of_the_next_unit(self):
        ready = [entry(1, received=NOW - 60, core=0x65, address=0x7F000001, port=8080) for _ in range(2)]
        wd = workdir(self, queue=queue(ready))
        os.mkdir(os.path.join(wd, "work"))
        for slot in (0, 1):
            with open(os.path.join(wd, "work", "wudata_%02d.dat" % slot), "wb") as f:
                f.write(b"data")
        shutil.copy(os.environ.get("QVN_DEMO_CORE", ""), os.path.join(wd, "QvnCore_65.exe"))
        # the first unit's core copies some 70 KB of progress lines into the log
        client = Client([], workdir=wd, env={"QVN_CORE_STEPS": "1500", "QVN_CORE_STEP_MS": "1"})
        self.addCleanup(client.close)
        self.assertTrue(wait_until(lambda: os.path.exists(os.path.join(wd, "QVNlog-Prev.txt")) and
                                   "Working on Unit 01" in read(wd, "QVNlog.txt"), 90), client.output())
        previous, current = read(wd, "QVNlog-Prev.txt"), read(wd, "QVNlog.txt")
        self.assertGreaterEqual(len(previous), 50000)
        self.assertIn("Finished 1500 of 1500 steps", previous)
        self.assertTrue(current.startswith("\n\n--- Opening Log file ["), current[:80])
        self.assertNotIn("Working on Unit 00", current)
        client.signal(signal.SIGTERM)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)


if __name__ == "__main__":
    unittest.main()
