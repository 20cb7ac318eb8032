"""Signed cores end to end, against the stand-in project in a private network namespace: a missing core is
downloaded, verified, installed and run; a forged bundle is refused; the bundle's request path follows the
download option; -freeBSD brands the new core."""
import json
import os
import stat
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tools"))

from harness import Client, prepare, unstamped, wait_until  # noqa: E402
import make_bundle  # noqa: E402
from stand_in_project import Project, Unit  # noqa: E402

CORE = os.environ.get("QVN_DEMO_CORE", "")
KEY_IS_TEST = os.environ.get("QVN_CORE_KEY_IS_TEST") == "1"
FIXTURES = os.path.join(HERE, "..", "runtime", "fixtures")
CONFIG = ("[settings]\nusername=Volunteer\nteam=42\nasknet=no\nmachineid=1\n\n"
          "[http]\nactive=no\nhost=localhost\nport=8080\n\n")


def test_key():
    with open(os.path.join(FIXTURES, "test_key.private.json")) as f:
        return json.load(f)


@unittest.skipUnless(KEY_IS_TEST, "this build trusts another key than the tests sign with")
class Cores(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(CORE, "rb") as f:
            cls.core = f.read()
        cls.good = make_bundle.bundle(test_key(), cls.core)

    def setUp(self):
        self.project = Project().start()
        self.addCleanup(self.project.stop)

    def run_client(self, args=(), env=None):
        tmp = tempfile.TemporaryDirectory(prefix="qvn-cores-")
        self.addCleanup(tmp.cleanup)
        prepare(tmp.name, config=CONFIG)
        environment = {"QVN_CORE_STEPS": "1", "QVN_CORE_STEP_MS": "10"}
        environment.update(env or {})
        client = Client(list(args), workdir=tmp.name, env=environment)
        self.addCleanup(client.close)
        return client

    def log_has(self, client, text, timeout=90):
        path = os.path.join(client.workdir, "QVNlog.txt")
        found = wait_until(lambda: os.path.exists(path) and text in unstamped(client.log()), timeout)
        self.assertTrue(found, "not logged: %r\n%s" % (text, client.output()))

    def stop(self, client):
        client.signal(15)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)

    def test_a_missing_core_is_downloaded_verified_installed_and_run(self):
        self.project.files["/cores/Core_65.qvn"] = self.good
        client = self.run_client()
        self.log_has(client, "+ Results successfully sent\n")
        log = unstamped(client.log())
        for line in ("Core not found.\n", "- Attempting to download new core...\n",
                     "+ Downloading new core: QvnCore_65.exe\n", "Verifying core Core_65.qvn...\n",
                     "Signature is VALID\n", "Trying to unzip core QvnCore_65.exe\n",
                     "Decompressed QvnCore_65.exe (%d bytes) successfully\n" % len(self.core),
                     "+ Core successfully engaged\n", "Core found.\n", "CoreStatus = 64 (100)\n"):
            self.assertIn(line, log)
        self.assertEqual(self.project.requests["files"][0],
                         b"GET http://127.0.0.5/cores/Core_65.qvn HTTP/1.1\r\nHost: 127.0.0.5\r\n"
                         b"Connection: Keep-Alive\r\n\r\n")
        core = os.path.join(client.workdir, "QvnCore_65.exe")
        with open(core, "rb") as f:
            self.assertEqual(f.read(), self.core)
        self.assertTrue(os.stat(core).st_mode & stat.S_IXUSR)
        self.assertFalse(os.path.exists(os.path.join(client.workdir, "Core_65.qvn")), "the bundle is deleted")
        self.stop(client)

    OUT_OF_DATE_CORE = b"#!/bin/sh\n# a core that finds itself too old for every unit\nexit 110\n"

    def test_a_core_out_of_date_right_after_its_download_drops_the_unit(self):
        self.project.files["/cores/Core_65.qvn"] = make_bundle.bundle(test_key(), self.OUT_OF_DATE_CORE)
        client = self.run_client()
        self.log_has(client, "Deleting current work unit & continuing...\n")
        self.stop(client)
        log = unstamped(client.log())
        self.assertIn("+ Core successfully engaged\n", log)
        self.assertIn("+ Core out of date. Auto updating...\nNew core downloaded for this work unit, but still out of "
                      "date.\n", log)

    def test_a_replayed_older_bundle_leaves_the_newer_core_in_place(self):
        key = test_key()
        newer = make_bundle.bundle(key, self.OUT_OF_DATE_CORE, time=key["valid_from"] + 2 * 86400)
        older = make_bundle.bundle(key, self.core, time=key["valid_from"] + 86400)
        # the newer core asks for renewal, and then a man in the middle answers with an older, validly signed one
        self.project.files["/cores/Core_65.qvn"] = [newer, older]
        client = self.run_client()
        self.log_has(client, "Core was signed before the one already accepted for this core number.\n")
        self.log_has(client, "+ Error: Could not extract core\n")
        self.stop(client)
        with open(os.path.join(client.workdir, "QvnCore_65.exe"), "rb") as f:
            self.assertEqual(f.read(), self.OUT_OF_DATE_CORE)

    def test_after_twenty_one_failed_downloads_the_unit_is_given_up(self):
        # the file server has no bundle; the waits between attempts are shortened to nothing
        client = self.run_client(env={"QVN_TEST_RETRY_DIVISOR": "1000000"})
        self.log_has(client, "- Giving up on downloading core, trying new work unit instead\n")
        self.stop(client)
        log = unstamped(client.log()).split("- Giving up on downloading core", 1)[0]
        self.assertEqual(log.count("+ Downloading new core: QvnCore_65.exe\n"), 21)
        self.assertEqual(log.count("+ Core download error (#"), 20)
        self.assertIn("+ Core download error (#21), waiting before retry...\n", log)

    def test_a_forged_bundle_is_refused_and_nothing_is_installed(self):
        self.project.files["/cores/Core_65.qvn"] = make_bundle.bundle(test_key(), self.core, forge="payload-byte")
        # real retry waits: the next attempt starts seconds after the failure is logged
        client = self.run_client(env={"QVN_TEST_RETRY_DIVISOR": "1"})
        self.log_has(client, "+ Error: Could not extract core\n")
        log = unstamped(client.log())
        self.assertIn("Signature is _NOT_ valid on given file.\nFailed to verify core\n", log)
        self.assertFalse(os.path.exists(os.path.join(client.workdir, "QvnCore_65.exe")))
        self.assertFalse(os.path.exists(os.path.join(client.workdir, "Core_65.qvn")), "no bundle lingers")
        self.stop(client)

    def test_option_0x10_replaces_the_bundle_name_in_the_location(self):
        self.project.location = "127.0.0.5/pub/Core_99.qvn"
        self.project.option = 0x10
        self.project.files["/pub/Core_65.qvn"] = self.good
        client = self.run_client()
        self.log_has(client, "+ Core successfully engaged\n")
        self.assertTrue(self.project.requests["files"][0].startswith(b"GET http://127.0.0.5/pub/Core_65.qvn "))
        self.stop(client)

    def test_freebsd_brands_the_new_core_and_a_failing_brandelf_changes_nothing(self):
        for status in (0, 1):
            with self.subTest(brandelf_status=status):
                self.project.files["/cores/Core_65.qvn"] = self.good
                tools = tempfile.TemporaryDirectory(prefix="qvn-brandelf-")
                self.addCleanup(tools.cleanup)
                record = os.path.join(tools.name, "record")
                with open(os.path.join(tools.name, "brandelf"), "w") as f:
                    f.write('#!/bin/sh\necho "$@" >> %s\nexit %d\n' % (record, status))
                os.chmod(os.path.join(tools.name, "brandelf"), 0o755)
                client = self.run_client(["-freeBSD"], env={"PATH": tools.name + ":" + os.environ["PATH"]})
                self.log_has(client, "+ Results successfully sent\n")
                self.assertIn("+ Core successfully engaged\n", unstamped(client.log()))
                with open(record) as f:
                    self.assertEqual(f.read(), "-t Linux QvnCore_65.exe\n")
                self.stop(client)


if __name__ == "__main__":
    unittest.main()
