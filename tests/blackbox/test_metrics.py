"""The metrics file qvn3.prom against what happened, read with the Prometheus client library's own parser
while the client runs units from the stand-in project (in a private network namespace); the copy for a
collector that runs as another user."""
import os
import shutil
import stat
import sys
import tempfile
import time
import unittest

from prometheus_client.parser import text_string_to_metric_families

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from harness import Client, prepare, unstamped, wait_until  # noqa: E402
from stand_in_project import Project, Unit  # noqa: E402

CORE = os.environ.get("QVN_DEMO_CORE", "")
# a name with a quote, a UTF-8 letter and a Latin-1 byte that is no UTF-8
CONFIG = ("[settings]\nusername=Vol \"unteer\" \u00e9\xfc\nteam=42\nasknet=no\nmachineid=3\n\n"
          "[http]\nactive=no\nhost=localhost\nport=8080\n\n")


def config_bytes(config):
    """The configuration as UTF-8, but for the one Latin-1 byte \\xfc, kept as it is."""
    return b"\xfc".join(part.encode("utf-8") for part in config.split("\xfc"))


SLOW = {"QVN_CORE_STEPS": "40", "QVN_CORE_STEP_MS": "100"}


def samples(path):
    """{(name, sorted labels): value} of every sample in the file, parsed as a collector parses it."""
    with open(path) as f:
        text = f.read()
    found = {}
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            found[(sample.name, tuple(sorted(sample.labels.items())))] = sample.value
    return found, text


def value(found, name, **labels):
    labels.setdefault("machine_id", "3")
    return found.get((name, tuple(sorted(labels.items()))))


class Metrics(unittest.TestCase):
    def setUp(self):
        self.project = Project().start()
        self.addCleanup(self.project.stop)
        tmp = tempfile.TemporaryDirectory(prefix="qvn-metrics-")
        self.addCleanup(tmp.cleanup)
        self.workdir = tmp.name
        self.metrics = os.path.join(self.workdir, "qvn3.prom")

    def start(self, config=CONFIG):
        prepare(self.workdir, config=None)
        with open(os.path.join(self.workdir, "client.cfg"), "wb") as f:
            f.write(config_bytes(config))
        shutil.copy(CORE, os.path.join(self.workdir, "QvnCore_65.exe"))
        client = Client([], workdir=self.workdir, env=SLOW)
        self.addCleanup(client.close)
        return client

    def wait_log(self, client, text, count=1, timeout=120):
        def logged():
            path = os.path.join(self.workdir, "QVNlog.txt")
            return os.path.exists(path) and unstamped(client.log()).count(text) >= count
        self.assertTrue(wait_until(logged, timeout), "not logged %d times: %r\n%s" % (count, text, client.output()))

    def wait_metrics(self, predicate, timeout=120):
        state = {}

        def holds():
            if not os.path.exists(self.metrics):
                return False
            state["found"], state["text"] = samples(self.metrics)
            return predicate(state["found"])
        self.assertTrue(wait_until(holds, timeout), state.get("text", "no metrics file"))
        return state["found"]

    def test_the_file_follows_the_queue_the_core_and_the_results(self):
        self.project.units.extend([Unit(core=0x65, payload=b"first" * 50, deadline=86400),
                                   Unit(core=0x65, payload=b"second" * 50, deadline=86400)])
        self.project.faults["work"].append("refuse")  # the first work request fails once
        before = time.time()
        client = self.start()

        # while the first unit runs: one slot active, progress between 0 and 1, the unit's deadline
        running = self.wait_metrics(lambda f: 0 < (value(f, "qvn3_unit_progress_ratio") or 0) < 1)
        self.assertEqual(value(running, "qvn3_info", version="3.25", user='Vol "unteer" \u00e9?', team="42"), 1)
        self.assertEqual(value(running, "qvn3_queue_slots", state="active"), 1)
        self.assertEqual(value(running, "qvn3_queue_slots", state="empty"), 9)
        for state in ("ready", "done", "fetching"):
            self.assertEqual(value(running, "qvn3_queue_slots", state=state), 0, state)
        deadline = value(running, "qvn3_unit_deadline_timestamp_seconds")
        self.assertIsNotNone(deadline)
        self.assertLessEqual(abs(deadline - (before + 86400)), 120)
        self.assertEqual(value(running, "qvn3_exchange_failures_total", exchange="work"), 1)
        self.assertEqual(value(running, "qvn3_exchange_failures_total", exchange="results"), 0)
        self.assertEqual(value(running, "qvn3_core_paused"), 0)
        self.assertEqual(value(running, "qvn3_results_sent_total"), 0)
        self.assertIsNone(value(running, "qvn3_last_result_accepted_timestamp_seconds"))

        # the progress only grows while the unit runs
        later = self.wait_metrics(lambda f: (value(f, "qvn3_unit_progress_ratio") or 0) >
                                  value(running, "qvn3_unit_progress_ratio"))
        self.assertEqual(value(later, "qvn3_queue_slots", state="active"), 1)

        # two units done and accepted: the counts and the time say so
        self.wait_log(client, "Thank you for your contribution to Quorvane.\n", count=2)
        done = self.wait_metrics(lambda f: value(f, "qvn3_results_sent_total") == 2)
        self.assertEqual(len(self.project.accepted), 2)
        self.assertEqual(value(done, "qvn3_units_completed_total"), 2)
        self.assertEqual(value(done, "qvn3_core_runs_total", status="100"), 2)
        accepted = value(done, "qvn3_last_result_accepted_timestamp_seconds")
        self.assertTrue(before - 1 <= accepted <= time.time() + 1, accepted)
        self.assertEqual(value(done, "qvn3_queue_slots", state="done"), 0)
        client.signal(15)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        self.assertFalse(os.path.exists(self.metrics + ".new"))

    def test_a_copy_for_another_users_collector_is_readable_whatever_the_umask(self):
        copy_dir = tempfile.TemporaryDirectory(prefix="qvn-textfile-")
        self.addCleanup(copy_dir.cleanup)
        copy = os.path.join(copy_dir.name, "qvn3-3.prom")
        previous = os.umask(0o077)
        try:
            client = self.start(CONFIG + "[metrics]\ncopy=%s\n" % copy)
        finally:
            os.umask(previous)
        self.assertTrue(wait_until(lambda: os.path.exists(copy), 60), client.output())
        client.signal(15)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)
        self.assertEqual(stat.S_IMODE(os.stat(copy).st_mode), 0o644)
        self.assertEqual(stat.S_IMODE(os.stat(self.metrics).st_mode), 0o600)  # the working directory's follows the umask
        found, _ = samples(copy)
        self.assertEqual(value(found, "qvn3_queue_slots", state="empty") is not None, True)


if __name__ == "__main__":
    unittest.main()
