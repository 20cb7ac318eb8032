"""What `cmake --install` puts on a volunteer's machine, and the service unit's key settings: the unit runs
the client unattended, at the lowest priority, confined, and stoppable with SIGTERM. A build that trusts a
test key refuses to install, so the installed files come from a build of the client with the release key
(which needs no private half to build)."""
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("QVN_BUILD_DIR", "")
KEY_IS_TEST = os.environ.get("QVN_CORE_KEY_IS_TEST", "0") == "1"
ROOT = pathlib.Path(__file__).resolve().parents[2]
UNIT = ROOT / "packaging" / "qvn3.service"

EXPECTED = {
    "usr/bin/qvn3",
    "usr/share/man/man1/qvn3.1.gz",
    "lib/systemd/system/qvn3.service",
    "usr/share/doc/qvn3/README.md",
    "usr/share/doc/qvn3/copyright",
    "usr/share/doc/qvn3/changelog.Debian.gz",
}


def unit_settings():
    """Every key of the unit with all its values, in order (keys may repeat)."""
    settings = {}
    for line in UNIT.read_text().splitlines():
        line = line.strip()
        if not line or line.startswith(("#", "[")):
            continue
        key, _, value = line.partition("=")
        settings.setdefault(key, []).append(value)
    return settings


def install(build, root):
    return subprocess.run(["cmake", "--install", build, "--prefix", "/usr"], env=dict(os.environ, DESTDIR=root),
                          capture_output=True, text=True, timeout=120)


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.release = None
        cls.build = BUILD
        if KEY_IS_TEST:
            cls.release = tempfile.TemporaryDirectory(prefix="qvn-release-build-")
            cls.build = cls.release.name
            for command in (["cmake", "-S", str(ROOT), "-B", cls.build, "-G", "Ninja"],
                            ["cmake", "--build", cls.build, "--target", "qvn3", "qvn_docs"]):
                subprocess.run(command, check=True, capture_output=True, timeout=900)

    @classmethod
    def tearDownClass(cls):
        if cls.release is not None:
            cls.release.cleanup()

    def test_installs_the_client_its_manual_page_the_unit_and_the_documentation(self):
        with tempfile.TemporaryDirectory(prefix="qvn-install-") as root:
            result = install(self.build, root)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            installed = {str(p.relative_to(root)) for p in pathlib.Path(root).rglob("*") if p.is_file()}
            self.assertEqual(installed, EXPECTED)
            program = os.path.join(root, "usr/bin/qvn3")
            self.assertTrue(os.access(program, os.X_OK))
            with open(program, "rb") as f:
                self.assertNotIn(b"QVN_TEST_", f.read(), "the installed client holds a test seam")

    @unittest.skipUnless(KEY_IS_TEST, "this build trusts the release key")
    def test_a_build_that_trusts_a_test_key_is_never_installed(self):
        with tempfile.TemporaryDirectory(prefix="qvn-install-") as root:
            result = install(BUILD, root)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("This build trusts a test key", result.stdout + result.stderr)
            self.assertEqual([p for p in pathlib.Path(root).rglob("*") if p.is_file()], [])

    def test_no_other_program_in_the_build_is_called_qvn3(self):
        # the test client, with its seams, lives under its own name
        named = sorted(str(p.relative_to(BUILD)) for p in pathlib.Path(BUILD).rglob("qvn3") if p.is_file())
        self.assertEqual(named, ["qvn3"])


class ServiceUnit(unittest.TestCase):
    def setUp(self):
        self.settings = unit_settings()

    def value(self, key):
        self.assertIn(key, self.settings)
        return self.settings[key][-1]

    def test_runs_unattended_in_its_own_state_directory_and_stops_on_sigterm(self):
        self.assertEqual(self.value("ExecStart"), "/usr/bin/qvn3")
        self.assertTrue(self.value("DynamicUser") == "yes" or "User" in self.settings)
        self.assertEqual(self.value("StateDirectory"), "qvn3")
        self.assertEqual(self.value("WorkingDirectory"), "%S/qvn3")
        self.assertEqual(self.value("StandardInput"), "null")
        self.assertEqual(self.value("StandardOutput"), "journal")
        self.assertEqual(self.value("KillSignal"), "SIGTERM")
        self.assertEqual(self.value("Restart"), "on-failure")
        self.assertGreater(int(self.value("RestartSec")), 0)

    def test_is_never_felt(self):
        self.assertEqual(self.value("Nice"), "19")
        self.assertEqual(self.value("CPUSchedulingPolicy"), "idle")
        self.assertEqual(self.value("IOSchedulingClass"), "idle")

    def test_is_confined(self):
        for key, wanted in (("NoNewPrivileges", "yes"), ("ProtectSystem", "strict"), ("ProtectHome", "yes"),
                            ("PrivateTmp", "yes"), ("PrivateDevices", "yes"), ("CapabilityBoundingSet", ""),
                            ("UMask", "0077")):
            self.assertEqual(self.value(key), wanted, key)
        self.assertEqual(sorted(self.value("RestrictAddressFamilies").split()), ["AF_INET", "AF_UNIX"])
        self.assertEqual(sorted(self.value("IPAddressDeny").split()), ["link-local", "multicast"])
        allowed = self.settings.get("SystemCallFilter", [])[0].split()
        self.assertIn("@system-service", allowed)
        for call in ("landlock_create_ruleset", "landlock_add_rule", "landlock_restrict_self", "seccomp"):
            self.assertIn(call, allowed)  # the client's own sandbox of each core run

    def test_lets_real_cores_run(self):
        # 32-bit x86 cores, cores that need writable executable memory, set their priority or affinity,
        # and read /proc/cpuinfo and /proc/meminfo
        self.assertEqual(sorted(self.value("SystemCallArchitectures").split()), ["native", "x86"])
        self.assertNotIn("MemoryDenyWriteExecute", self.settings)
        self.assertNotIn("ProcSubset", self.settings)
        for denied in self.settings.get("SystemCallFilter", [])[1:]:
            self.assertNotIn("@resources", denied)

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_verifies(self):
        result = subprocess.run(["systemd-analyze", "verify", str(UNIT)], capture_output=True, text=True, timeout=120)
        # only the installed program and manual page are missing here; the unit itself must raise nothing
        complaints = [line for line in (result.stdout + result.stderr).splitlines()
                      if line.strip() and "/usr/bin/qvn3" not in line and "man qvn3" not in line]
        self.assertEqual(complaints, [])

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_exposure_is_rated_ok(self):
        result = subprocess.run(["systemd-analyze", "security", "--offline=true", str(UNIT)], capture_output=True,
                                text=True, timeout=120)
        line = [l for l in result.stdout.splitlines() if "Overall exposure level" in l]
        self.assertTrue(line, result.stdout + result.stderr)
        exposure = float(line[0].split(":", 1)[1].split()[0])
        self.assertLessEqual(exposure, 2.0, line[0])


if __name__ == "__main__":
    unittest.main()
