"""The work cycle with the stand-in core: exact command lines, log copying, progress, every status path,
the deadline interrupt through a real shell, Ctrl-C, and the one-shot modes."""
import os
import re
import shutil
import signal
import struct
import tempfile
import time
import unittest

from harness import Client, prepare, unstamped
from queue_image import ENTRY, entry, queue, slot_state

CORE = os.environ.get("QVN_DEMO_CORE", "")
NOW = int(time.time()) - 946684800
DATA = bytes(range(256)) * 40


def fnv1a64(data):
    h = 14695981039346656037
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return h


def unit(slot=0, **fields):
    values = dict(received=NOW - 60, core=0x65, address=0x7F000001, port=8080, name=b"Demo")
    values.update(fields)
    return entry(1, **values)


class Workdir:
    """A working directory with settings, identity, a queue, work files and (unless told) the core."""

    def __init__(self, entries, index=0, core=True, extra=None, config=None):
        self.tmp = tempfile.TemporaryDirectory(prefix="qvn-cycle-")
        self.path = self.tmp.name
        files = {"queue": queue(entries, index=index)}
        if config is not None:
            files["config"] = config
        prepare(self.path, **files)
        os.mkdir(self.work())
        for slot, e in enumerate(entries):
            if struct.unpack_from("<I", e)[0] in (1, 2):
                self.write("work/wudata_%02d.dat" % slot, DATA)
        if core:
            shutil.copy(CORE, os.path.join(self.path, "QvnCore_65.exe"))
        for name, content in (extra or {}).items():
            self.write(name, content)

    def work(self, name=""):
        return os.path.join(self.path, "work", name)

    def write(self, name, content):
        with open(os.path.join(self.path, name), "wb" if isinstance(content, bytes) else "w") as f:
            f.write(content)

    def read(self, name):
        with open(os.path.join(self.path, name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.exists(os.path.join(self.path, name))


class CycleTest(unittest.TestCase):
    def start(self, wd, args=(), env=None):
        client = Client(list(args), workdir=wd.path, stdin_data=b"", env=env)
        self.addCleanup(client.close)
        self.addCleanup(wd.tmp.cleanup)
        return client

    def wait_log(self, client, text, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if os.path.exists(os.path.join(client.workdir, "QVNlog.txt")) and text in unstamped(client.log()):
                return
            if client.proc.poll() is not None:
                break
            time.sleep(0.1)
        self.fail("not logged: %r\n%s" % (text, client.output()))

    def stop(self, client):
        client.signal(signal.SIGTERM)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        self.assertTrue(out.endswith("\nQuorvane Client Shutdown.\n"), out)


class Results(CycleTest):
    def test_ready_unit_runs_with_the_exact_command_line_and_its_result_stays_done(self):
        wd = Workdir([unit()])
        client = self.start(wd, env={"QVN_CORE_STEPS": "4", "QVN_CORE_STEP_MS": "700"})
        self.wait_log(client, "- Error: Getwork #1 failed, and no other work to do. Waiting before retry\n")
        self.assertEqual(wd.read("work/argv_00.txt").decode(),
                         "./QvnCore_65.exe -dir work/ -suffix 00 -lifeline %d\n" % client.proc.pid)
        log = unstamped(client.log())
        self.assertRegex(client.log(), r"\[\d\d:\d\d:\d\d\] Finished 1 of 4 steps\n")
        for line in ["\n+ Processing work unit\n", "Core required: QvnCore_65.exe\n", "Core found.\n",
                     "+ Working ...\n", "Finished 4 of 4 steps\n", "Writing local files\n", "CoreStatus = 64 (100)\n",
                     "Sending work to server\n", "- Error: Could not transmit unit 00 (completed "]:
            self.assertIn(line, log)
        self.assertRegex(log, r"Working on Unit 00 \[[A-Za-z]+ \d+ \d\d:\d\d:\d\d\]\n")
        # lines the watcher reads only after the core ended are logged without a progress check, so the
        # last refresh may show any step
        info = wd.read("unitinfo.txt").decode()
        shown = re.match(r"^Current Work Unit\n-----------------\nName: demo unit 00\nDownload time: "
                         r"[A-Za-z]+ \d+ \d\d:\d\d:\d\d\nProgress: (\d+)%  \[([|_]{10})\]\n$", info)
        self.assertIsNotNone(shown, info)
        percent = int(shown.group(1))
        self.assertIn(percent, (25, 50, 75, 100))
        self.assertEqual(shown.group(2), "|" * (percent // 10) + "_" * (10 - percent // 10))
        self.assertEqual(wd.read("work/wuresults_00.dat").decode(), "fnv1a64 %016x\n" % fnv1a64(DATA))
        saved = wd.read("queue.dat")
        self.assertEqual(slot_state(saved, 0), 2, "DONE: the send failed, the result is kept")
        completed, = struct.unpack_from("<q", saved, 8 + 20)
        self.assertGreaterEqual(completed, NOW)
        self.assertEqual(struct.unpack_from("<I", saved, 8 + 40)[0], 1, "finished word set")
        self.stop(client)

    def test_settings_changed_restarts_at_once_with_notermcheck_once(self):
        wd = Workdir([unit()], extra={"work/exit_00.txt": "98"})
        client = self.start(wd, env={"QVN_CORE_STEPS": "2", "QVN_CORE_STEP_MS": "10"})
        self.wait_log(client, "CoreStatus = 64 (100)\n")
        log = unstamped(client.log())
        self.assertIn("CoreStatus = 62 (98)\n+ Restarting core (settings changed) \n\n+ Processing work unit\n", log)
        lines = wd.read("work/argv_00.txt").decode().splitlines()
        pid = client.proc.pid
        self.assertEqual(lines[:2], ["./QvnCore_65.exe -dir work/ -suffix 00 -lifeline %d" % pid,
                                     "./QvnCore_65.exe -dir work/ -suffix 00 -notermcheck -lifeline %d" % pid])
        self.stop(client)


AUTOSEND = re.compile(r"^(- Autosending finished units\.\.\.|Trying to send all finished work units|"
                      r"\+ Sent \d+ completed units to the server|- Autosend completed)\n", re.M)


class Statuses(CycleTest):
    # forced exit code -> lines the pass must log after "CoreStatus = ..."
    CASES = [
        (99, ["+ Error starting Demo core.\n"]),
        (101, ["Core internal error: SPECIAL_EXIT\n"]),
        (111, ["+ The core could not recognize the format of the provided work file.\n",
               "Deleting current work unit & continuing...\n"]),
        (113, ["+ Work unit files corrupt\nPossibly received incorrectly.\n",
               "Deleting current work unit & continuing...\n"]),
        (115, ["Client internal error: Core did not recognize client arguments.\n"]),
        (117, ["Error opening or reading from a file.\nDeleting current work unit & continuing...\n"]),
        (0x7A, ["Client-core communications error: ERROR 0x7a\n",
                "Deleting current work unit & continuing...\n"]),
        (110, ["+ Core out of date. Auto updating...\n", "- Attempting to download new core...\n",
               "+ Core download error (#2), waiting before retry...\n"]),
        (112, ["+ The core could not validate the current work unit for processing.\n",
               "Deleting current work unit & continuing...\n"]),
        (114, ["Sending work to server\n"]),  # the unit is handed in all the same
        (116, ["The core could not find the work files specified. Removing from queue\n",
               "Deleting current work unit & continuing...\n"]),
        # no core at all: three failure points and a download
        (None, ["Core required: QvnCore_65.exe\nCore not found.\n- Core is not present or corrupted.\n"
                "- Attempting to download new core...\n", "+ Core download error (#2), waiting before retry...\n"]),
    ]

    def test_each_status_gets_its_action(self):
        clients = []
        for code, _ in self.CASES:
            if code is None:
                wd = Workdir([unit()], core=False)
            else:
                wd = Workdir([unit()], extra={"work/exit_00.txt": str(code)})
            clients.append((wd, self.start(wd, ["-verbosity", "6"])))
        for (code, lines), (wd, client) in zip(self.CASES, clients):
            with self.subTest(code=code):
                self.wait_log(client, lines[-1])
                # the six-hourly send thread logs at this verbosity too, at any moment: its lines may fall
                # between the pass's own
                log = AUTOSEND.sub("", unstamped(client.log()))
                if code is not None:
                    self.assertIn("CoreStatus = %X (%d)\n" % (code, code), log)
                for line in lines:
                    self.assertIn(line, log)
                if "Deleting current work unit" in lines[-1]:
                    # the core's clean-up run removed the unit's files and the slot is empty
                    self.wait_log(client, "- Error: Getwork #1 failed")
                    self.assertFalse(wd.exists("work/wudata_00.dat"))
                    self.assertIn("-cleanup", wd.read("work/argv_00.txt").decode())
        for _, client in clients:
            self.stop(client)


class Interrupts(CycleTest):
    def start_up_seconds(self):
        """How long a start takes on this machine now (a one-shot run of the same client)."""
        wd = Workdir([unit()])
        began = time.monotonic()
        status, out = self.start(wd, ["-queueinfo"]).finish(timeout=120)
        self.assertEqual(status, 0, out)
        return time.monotonic() - began

    def test_passed_deadline_interrupts_the_core_and_moves_to_the_next_unit(self):
        # The deadline must pass while the core runs, not before: the margin follows this machine's start-up
        # (a loaded machine or a sanitizer build starts slowly), and the core runs for a minute past it.
        margin = 8 + 4 * self.start_up_seconds()
        deadline = int(time.time() + margin) - 946684800
        wd = Workdir([unit(deadline_known=1, deadline=deadline, deadline_seconds=100), unit()])
        client = self.start(wd, env={"QVN_CORE_STEPS": str(int(margin + 60) * 10), "QVN_CORE_STEP_MS": "100"})
        self.wait_log(client, "Working on Unit 01", timeout=margin + 90)
        log = unstamped(client.log())
        self.assertRegex(log, r"Unit 0's deadline \([A-Za-z]+ \d+ \d\d:\d\d\) has passed\.\n"
                              r"Going to interrupt core and move on to next unit\.\.\.\n")
        self.assertIn("Interrupted: stopping\n", log)
        self.assertIn("CoreStatus = 66 (102)\n", log)
        self.assertNotIn("Shutdown requested", log)
        self.assertNotIn("Got a SIGTERM", log)
        self.assertFalse(wd.exists("work/wudata_00.dat"), "the interrupted unit was cleaned up")
        self.stop(client)  # the interrupt is over: a SIGTERM ends the client again

    def test_ctrl_c_reaches_the_core_and_the_client_shuts_down(self):
        wd = Workdir([unit()])
        client = self.start(wd, env={"QVN_CORE_STEPS": "600", "QVN_CORE_STEP_MS": "100"})
        self.wait_log(client, "Finished 2 of 600 steps")
        client.signal_group(signal.SIGINT)  # what the terminal does on Ctrl-C
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0)
        out = unstamped(out)
        self.assertIn("CoreStatus = 66 (102)\n+ Shutdown requested by user. Exiting.", out)
        self.assertNotIn("Activate signal", out)
        self.assertTrue(out.endswith("\nQuorvane Client Shutdown.\n"), out)


class OneShot(CycleTest):
    def test_delete_runs_the_core_clean_up(self):
        wd = Workdir([unit(), unit()])
        client = self.start(wd, ["-delete", "1"])
        status, out = client.finish(timeout=60)
        self.assertEqual(status, 0, out)
        self.assertIn("Deleting work unit #1 from work queue...\n", unstamped(out))
        self.assertNotIn("Failed", out)
        self.assertFalse(wd.exists("work/wudata_01.dat"))
        self.assertTrue(wd.exists("work/wudata_00.dat"))
        saved = wd.read("queue.dat")
        self.assertEqual((slot_state(saved, 0), slot_state(saved, 1)), (1, 0))

    def test_send_modes_report_the_failed_transfer_and_keep_the_unit(self):
        done = entry(2, received=NOW - 60, completed=NOW - 30, core=0x65, address=0x7F000001, port=8080)
        for args, message in ((["-send", "all"], "- Failed to send all units to server\n"),
                              (["-send", "0"], "- Failed to send unit 00 to server\n"),
                              (["-send", "3"], "- Failed to send unit 03 to server\n")):
            with self.subTest(args=args):
                # the result is there, the work server is not
                wd = Workdir([done], extra={"work/wuresults_00.dat": "a result"})
                client = self.start(wd, args)
                status, out = client.finish(timeout=60)
                self.assertEqual(status, 0)
                out = unstamped(out)
                self.assertIn("Attempting to return result(s) to server...\n", out)
                self.assertIn(message, out)
                self.assertEqual(slot_state(wd.read("queue.dat"), 0), 2)


if __name__ == "__main__":
    unittest.main()
