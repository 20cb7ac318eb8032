"""The client's start, its refusal of bad arguments, and its end on SIGINT and SIGTERM."""
import os
import re
import signal
import subprocess
import tempfile
import time
import unittest

from harness import CLIENT, Client, unstamped

RULE = "#" * 79 + "\n"
USAGE = (
    "Quorvane Version 3.25\nUsage:   {name} [-mode]\n\n"
    "modes:\n  -config      Configure user information\n  -queueinfo   Get information on queued work units\n"
    "  -delete x    Delete item #x from work queue\n"
    "  -send x      Send result #x to server. Use x=all to send all results\n"
    "  -verbosity x Sets the output level, from 1 to 9 (max). The default is 3\n"
    "  -pause       Pause after finishing & trying to send current unit\n"
    "  -forceasm    Force core assembly optimizations (preferably SSE) to be used if available\n"
    "  -advmethods  Use new advanced scientific cores and/or work units if available\n"
    "  -freeBSD     Make brandelf system call on downloaded cores.\n\n")
CLOSING = "Please note the above recognized flags and try again.\nPress any key to exit.\n"
SHUTDOWN = "\nQuorvane Client Shutdown.\n"


class BadArguments(unittest.TestCase):
    CASES = [
        (["-help"], "Bad argument: -help\n"),
        (["-delete", "10"], "Error: Argument to -delete out of range. Must be <10"),
        (["-verbosity"], "Error: -verbosity must be followed by an argument\n"),
        (["-verbosity", "0"], "Error: Verbosity must be between 1 (min) and 9 (max)"),
        (["-send"], "Error: -send must be followed by an argument\n"),
    ]

    def test_each_error_prints_usage_waits_for_a_key_and_exits_zero(self):
        for args, error in self.CASES:
            with self.subTest(args=args):
                client = Client(args, stdin_data=b"")  # end of input counts as the key
                try:
                    status, out = client.finish(timeout=30)
                    self.assertEqual(status, 0)
                    expected = error + "Bad Argument(s) received\n\n" + USAGE.format(name=os.path.basename(CLIENT)) + CLOSING + SHUTDOWN
                    self.assertEqual(out, expected)
                    self.assertEqual(os.listdir(client.workdir), [".stdout"], "nothing written to disk")
                finally:
                    client.close()

    def test_one_key_press_is_enough(self):
        client = Client(["-bogus"], stdin_data=None)
        try:
            self.assertTrue(client.wait_for("Press any key to exit.\n"))
            self.assertIsNone(client.proc.poll())
            client.proc.stdin.write(b"x")
            client.proc.stdin.flush()
            status, out = client.finish(timeout=30)
            self.assertEqual(status, 0)
            self.assertTrue(out.endswith(SHUTDOWN))
        finally:
            client.close()

    def test_usage_names_the_program_by_its_last_path_component(self):
        with tempfile.TemporaryDirectory() as tmp:
            os.makedirs(os.path.join(tmp, "usr/local/bin"))
            link = os.path.join(tmp, "usr/local/bin/client")
            os.symlink(CLIENT, link)
            client = Client(["-x"], workdir=tmp, program=link)
            try:
                status, out = client.finish(timeout=30)
                self.assertEqual(status, 0)
                self.assertIn("Usage:   client [-mode]\n", out)
            finally:
                client.close()


class Running(unittest.TestCase):
    def run_until_signal(self, args, number, env=None):
        client = Client(args, files={}, env=env)
        try:
            # The send thread logs this only after the work cycle has installed the handler (verbosity 6),
            # so one signal is enough from then on.
            self.assertTrue(client.wait_for("- Autosend completed\n", timeout=120), client.output())
            client.signal(number)
        except Exception:
            client.close()
            raise
        status, out = client.finish(timeout=60)
        with open(os.path.join(client.workdir, "QVNlog.txt"), encoding="latin-1") as f:
            self.log = f.read()
        client.close()
        return status, out

    def test_banner_arguments_benchmark_and_sigterm(self):
        # the one start that measures the processor for real, as the released client does
        status, out = self.run_until_signal(["-verbosity", "6", "-pause"], signal.SIGTERM, env={"QVN_TEST_BENCHMARK": ""})
        self.assertEqual(status, 0)
        banner = ("\n#" + " Linux Console Edition " + "#" * 55 + "\n" + RULE + "\n" +
                  " " * 23 + "Quorvane Client Version 3.25\n\n")
        opening = re.match(r"\n\n--- Opening Log file \[[A-Za-z]+ \d{1,2} \d\d:\d\d:\d\d\] \n\n", out)
        self.assertIsNotNone(opening, out)
        self.assertTrue(out[opening.end():].startswith(banner), out)
        lines = unstamped(out)
        # a build that trusts a test key says so at every start, right after the arguments
        warning = ("- Warning: this build trusts a test key; it must never be released\n"
                   if os.environ.get("QVN_CORE_KEY_IS_TEST") == "1" else "")
        self.assertIn(RULE + RULE + "\nArguments: -verbosity 6 -pause \n\n" + warning + "- Ask before connecting: No\n",
                      lines)
        self.assertIn("\n+ Benchmarking ...\n", lines)
        self.assertRegex(lines, r"\nThe benchmark result is [1-9][0-9]*\n")
        self.assert_ends_after(lines, "***** Got a SIGTERM signal (15) from OS\n")
        self.assertEqual(self.log, out, "the log file holds what the console showed")

    def test_sigint_without_arguments(self):
        status, out = self.run_until_signal(["-verbosity", "6"], signal.SIGINT)
        self.assertEqual(status, 0)
        self.assert_ends_after(unstamped(out), "***** Got an Activate signal (2) from OS\n")

    def assert_ends_after(self, lines, signal_line):
        # the signal line and the shutdown line are two writes: the fetch loop may log between them
        self.assertTrue(lines.endswith(SHUTDOWN), lines)
        self.assertIn(signal_line, lines)
        self.assertEqual(lines.count(signal_line), 1, lines)

    def test_no_arguments_writes_no_argument_line(self):
        client = Client([], files={})
        try:
            self.assertTrue(client.wait_for("+ Benchmarking ...\n"))
            out = client.output()
            self.assertNotIn("Arguments:", out)
            self.assertIn(RULE + RULE + "\n\n\n[", out)
        finally:
            client.close()


if __name__ == "__main__":
    unittest.main()
