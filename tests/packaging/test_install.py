"""What `cmake --install` puts on a volunteer's machine, under any prefix, the service units' key settings
(the units run the client unattended, at the lowest priority, confined, and stoppable with SIGTERM), and
the Debian package's life on this machine: install, upgrade, removal, purge (as root). A build that trusts
a test key refuses to install, so the installed files come from a build of the client with the release key
(which needs no private half to build)."""
import glob
import os
import pathlib
import shutil
import stat
import subprocess
import tempfile
import unittest

BUILD = os.environ.get("QVN_BUILD_DIR", "")
KEY_IS_TEST = os.environ.get("QVN_CORE_KEY_IS_TEST", "0") == "1"
ROOT = pathlib.Path(__file__).resolve().parents[2]
UNITS = ("qvn3.service", "qvn3@.service")

EXPECTED = {
    "usr/bin/qvn3",
    "usr/libexec/qvn3/qvn3-seed",
    "usr/libexec/qvn3/qvn3-prepare",
    "usr/share/man/man1/qvn3.1.gz",
    "lib/systemd/system/qvn3.service",
    "lib/systemd/system/qvn3@.service",
    "usr/share/doc/qvn3/README.md",
    "usr/share/doc/qvn3/copyright",
    "usr/share/doc/qvn3/changelog.Debian.gz",
    "usr/share/doc/qvn3/examples/client.cfg.example",
}


def unit_settings(path):
    """Every key of the unit with all its values, in order (keys may repeat)."""
    settings = {}
    for line in pathlib.Path(path).read_text().splitlines():
        line = line.strip()
        if not line or line.startswith(("#", "[")):
            continue
        key, _, value = line.partition("=")
        settings.setdefault(key, []).append(value)
    return settings


def install(build, root, prefix="/usr"):
    command = ["cmake", "--install", build] + (["--prefix", prefix] if prefix else [])
    return subprocess.run(command, env=dict(os.environ, DESTDIR=root), capture_output=True, text=True, timeout=120)


_release = None


def release_build():
    """The build whose files are installed: this one, or a release-key build made once for all the tests."""
    global _release
    if not KEY_IS_TEST:
        return BUILD
    if _release is None:
        _release = tempfile.TemporaryDirectory(prefix="qvn-release-build-")
        for command in (["cmake", "-S", str(ROOT), "-B", _release.name, "-G", "Ninja"],
                        ["cmake", "--build", _release.name, "--target", "qvn3", "qvn_docs"]):
            subprocess.run(command, check=True, capture_output=True, timeout=900)
    return _release.name


def tearDownModule():
    if _release is not None:
        _release.cleanup()


class Install(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build = release_build()

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

    def test_the_units_name_the_installed_programs_under_any_prefix(self):
        # the default prefix, the distribution's, and one of an administrator's own
        for prefix, unit_dir in ((None, "usr/local/lib/systemd/system"), ("/usr", "lib/systemd/system"),
                                 ("/opt/qvn", "opt/qvn/lib/systemd/system")):
            with self.subTest(prefix=prefix), tempfile.TemporaryDirectory(prefix="qvn-install-") as root:
                result = install(self.build, root, prefix)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                for unit in UNITS:
                    settings = unit_settings(os.path.join(root, unit_dir, unit))
                    commands = [v.lstrip("+-") for key in ("ExecStartPre", "ExecStart") for v in settings[key]]
                    programs = [word for command in commands for word in command.split() if word.startswith("/")]
                    self.assertTrue(any(p.endswith("/bin/qvn3") for p in programs), commands)
                    for program in programs:
                        self.assertTrue(os.access(root + program, os.X_OK), "%s: %s is not installed" % (unit, program))

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
    """The units as cmake --install --prefix /usr makes them (they name the installed programs)."""
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.TemporaryDirectory(prefix="qvn-units-")
        result = install(release_build(), cls.root.name)
        assert result.returncode == 0, result.stdout + result.stderr
        cls.units = {unit: os.path.join(cls.root.name, "lib/systemd/system", unit) for unit in UNITS}

    @classmethod
    def tearDownClass(cls):
        cls.root.cleanup()

    def each_unit(self):
        for unit, path in self.units.items():
            with self.subTest(unit=unit):
                self.settings = unit_settings(path)
                yield unit, path

    def value(self, key):
        self.assertIn(key, self.settings)
        return self.settings[key][-1]

    def test_run_unattended_in_their_own_state_directories_and_stop_on_sigterm(self):
        # (an instance's directory lies inside the one state directory of all instances: systemd has it made
        # by qvn3-seed, as "-" lets a working directory be missing until then)
        wanted = {"qvn3.service": ("-", "qvn3", "%S/qvn3", "", "qvn3.prom"),
                  "qvn3@.service": ("%i", "qvn3-instances", "%S/qvn3-instances/%i", "-", "qvn3-%i.prom")}
        for unit, _ in self.each_unit():
            instance, state, workdir, optional, metrics = wanted[unit]
            self.assertEqual(self.value("ExecStart"), "/usr/libexec/qvn3/qvn3-prepare %s /usr/bin/qvn3" % instance)
            self.assertEqual(self.value("ExecStartPre"), "+/usr/libexec/qvn3/qvn3-seed " + workdir)
            self.assertEqual(self.value("DynamicUser"), "yes")
            self.assertEqual(self.value("User"), "qvn3")  # one user for every instance: the shared ID is theirs
            self.assertEqual(self.value("StateDirectory"), state)
            self.assertEqual(self.value("WorkingDirectory"), optional + workdir)
            self.assertEqual(self.value("Environment"), "QVN3_METRICS_COPY=%t/qvn3-metrics/" + metrics)
            self.assertEqual(self.value("RuntimeDirectory"), "qvn3-metrics")
            self.assertEqual(self.value("RuntimeDirectoryMode"), "0755")
            self.assertEqual(self.value("StandardInput"), "null")
            self.assertEqual(self.value("StandardOutput"), "journal")
            self.assertEqual(self.value("KillSignal"), "SIGTERM")
            self.assertEqual(self.value("Restart"), "on-failure")
            self.assertGreater(int(self.value("RestartSec")), 0)

    def test_are_never_felt(self):
        for _ in self.each_unit():
            self.assertEqual(self.value("Nice"), "19")
            self.assertEqual(self.value("CPUSchedulingPolicy"), "idle")
            self.assertEqual(self.value("IOSchedulingClass"), "idle")

    def test_are_confined(self):
        for _ in self.each_unit():
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

    def test_let_real_cores_run(self):
        # 32-bit x86 cores, cores that need writable executable memory, set their priority or affinity,
        # and read /proc/cpuinfo and /proc/meminfo
        for _ in self.each_unit():
            self.assertEqual(sorted(self.value("SystemCallArchitectures").split()), ["native", "x86"])
            self.assertNotIn("MemoryDenyWriteExecute", self.settings)
            self.assertNotIn("ProcSubset", self.settings)
            for denied in self.settings.get("SystemCallFilter", [])[1:]:
                self.assertNotIn("@resources", denied)

    def instantiated(self, unit, path):
        """The template as an instance (systemd-analyze reads only instances), or the unit itself."""
        if "@" not in unit:
            return path
        instance = os.path.join(self.root.name, unit.replace("@", "@2"))
        shutil.copy(path, instance)
        return instance

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_verify(self):
        for unit, path in self.each_unit():
            result = subprocess.run(["systemd-analyze", "verify", self.instantiated(unit, path)], capture_output=True,
                                    text=True, timeout=120)
            # only the installed programs and manual page are missing here; the unit itself must raise nothing
            complaints = [line for line in (result.stdout + result.stderr).splitlines()
                          if line.strip() and "/usr/bin/qvn3" not in line and "/usr/libexec/qvn3/" not in line
                          and "man qvn3" not in line]
            self.assertEqual(complaints, [])

    @unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
    def test_exposure_is_rated_ok(self):
        for unit, path in self.each_unit():
            result = subprocess.run(["systemd-analyze", "security", "--offline=true", self.instantiated(unit, path)],
                                    capture_output=True, text=True, timeout=120)
            line = [l for l in result.stdout.splitlines() if "Overall exposure level" in l]
            self.assertTrue(line, result.stdout + result.stderr)
            exposure = float(line[0].split(":", 1)[1].split()[0])
            self.assertLessEqual(exposure, 1.5, line[0])



# What the package's life touches on this machine. The test runs only where none of it exists, so it can
# never take a volunteer's own installation or work.
STATE = ("/var/lib/qvn3", "/var/lib/private/qvn3", "/var/lib/qvn3-instances", "/var/lib/private/qvn3-instances",
         "/etc/qvn3")
WANTS = "/etc/systemd/system/multi-user.target.wants/qvn3@1.service"
FAKE_SYSTEMCTL = """#!/bin/sh
echo "$*" >> "%s"
"""


def installed_version():
    result = subprocess.run(["dpkg-query", "-W", "-f=${Status} ${Version}", "qvn3"], capture_output=True, text=True)
    return result.stdout if result.returncode == 0 else ""


def can_run_package_life():
    if os.geteuid() != 0:
        return "dpkg needs root"
    if not shutil.which("dpkg") or not shutil.which("cpack") or not shutil.which("unshare"):
        return "dpkg, cpack or unshare is missing"
    if installed_version() not in ("", "unknown ok not-installed ") or any(os.path.lexists(p) for p in STATE + (WANTS,)):
        return "qvn3 is installed or has state on this machine"
    return None


@unittest.skipIf(can_run_package_life(), can_run_package_life())
class Package(unittest.TestCase):
    """dpkg -i, an upgrade to a rebuilt package of a higher release, dpkg -r, dpkg --purge. Each step runs in a
    private mount namespace whose systemctl only records its arguments and where systemd seems to run, so
    the maintainer scripts' calls are seen without a running systemd."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="qvn-package-")
        cls.private_existed = os.path.exists("/var/lib/private")
        build = release_build()
        cls.packages = {}
        for release in (1, 2):
            out = os.path.join(cls.tmp.name, "release%d" % release)
            os.mkdir(out)
            subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", out,
                            "-D", "CPACK_DEBIAN_PACKAGE_RELEASE=%d" % release], check=True, capture_output=True,
                           timeout=600)
            cls.packages[release] = glob.glob(os.path.join(out, "qvn3_*.deb"))[0]
        cls.calls = os.path.join(cls.tmp.name, "systemctl.calls")
        cls.fake = os.path.join(cls.tmp.name, "systemctl")
        with open(cls.fake, "w") as f:
            f.write(FAKE_SYSTEMCTL % cls.calls)
        os.chmod(cls.fake, 0o755)

    @classmethod
    def tearDownClass(cls):
        if installed_version():
            subprocess.run(["dpkg", "--purge", "qvn3"], capture_output=True, timeout=300)
        for path in STATE + (WANTS,):
            if os.path.islink(path) or os.path.isfile(path):
                os.unlink(path)
            elif os.path.isdir(path):
                shutil.rmtree(path)
        if not cls.private_existed and os.path.isdir("/var/lib/private") and not os.listdir("/var/lib/private"):
            os.rmdir("/var/lib/private")
        cls.tmp.cleanup()

    def dpkg(self, *args):
        """Runs dpkg; returns the systemctl calls the maintainer scripts made."""
        if os.path.exists(self.calls):
            os.unlink(self.calls)
        script = ("mount -t tmpfs qvn-test /run/systemd 2>/dev/null || { mkdir -p /run/systemd && "
                  "mount -t tmpfs qvn-test /run/systemd; }; mkdir /run/systemd/system && "
                  "mount --bind %s /usr/bin/systemctl && exec dpkg \"$@\"" % self.fake)
        result = subprocess.run(["unshare", "-m", "--propagation", "private", "sh", "-c", script, "sh"] + list(args),
                                capture_output=True, text=True, timeout=300)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        if not os.path.exists(self.calls):
            return []
        with open(self.calls) as f:
            return f.read().splitlines()

    def test_install_upgrade_remove_purge(self):
        # install: the files, nothing enabled or started, only the units read again
        calls = self.dpkg("-i", self.packages[1])
        self.assertEqual(installed_version(), "install ok installed 3.25-1")
        for path in EXPECTED:
            self.assertTrue(os.path.exists("/" + path), path)
        self.assertEqual(calls, ["--system daemon-reload"])
        self.assertFalse(any(os.path.lexists(p) for p in STATE))

        # a seed, written by configuration management, becomes a new directory's configuration, owner-only
        # and owned by the directory's owner (the service's user)
        os.makedirs("/etc/qvn3")
        with open("/etc/qvn3/client.cfg", "w") as f:
            f.write("[settings]\nusername=Fleet\nteam=9\nasknet=no\n[http]\nactive=yes\nhost=proxy\nport=3128\n"
                    "usepasswd=yes\nproxy_name=lab\nproxy_passwd=secret\n")
        os.chmod("/etc/qvn3/client.cfg", 0o600)
        workdir = os.path.join(self.tmp.name, "service-state")
        os.mkdir(workdir, 0o700)
        os.chown(workdir, 65534, 65534)
        seeded = subprocess.run(["/usr/libexec/qvn3/qvn3-seed", workdir], capture_output=True, text=True, timeout=30)
        self.assertEqual(seeded.returncode, 0, seeded.stderr)
        copied = os.stat(os.path.join(workdir, "client.cfg"))
        self.assertEqual((stat.S_IMODE(copied.st_mode), copied.st_uid), (0o600, 65534))
        with open(os.path.join(workdir, "client.cfg")) as f:
            self.assertIn("proxy_passwd=secret", f.read())

        # the state a service leaves, and an enabled instance
        os.makedirs("/var/lib/private/qvn3/work")
        with open("/var/lib/private/qvn3/queue.dat", "wb") as f:
            f.write(b"q" * 7016)
        os.symlink("private/qvn3", "/var/lib/qvn3")
        os.makedirs("/var/lib/private/qvn3-instances/1")
        os.symlink("private/qvn3-instances", "/var/lib/qvn3-instances")
        os.makedirs(os.path.dirname(WANTS), exist_ok=True)
        os.symlink("/lib/systemd/system/qvn3@.service", WANTS)

        # upgrade: running clients restart on the new version; the seed and the state stay
        calls = self.dpkg("-i", self.packages[2])
        self.assertEqual(installed_version(), "install ok installed 3.25-2")
        self.assertIn("--system try-restart qvn3.service qvn3@*.service", calls)
        self.assertNotIn("stop", " ".join(calls).split())
        self.assertTrue(os.path.exists("/etc/qvn3/client.cfg"))
        self.assertTrue(os.path.exists("/var/lib/qvn3/queue.dat"))

        # removal: the clients stop; the program goes; settings, queue, seed and enablement stay
        calls = self.dpkg("-r", "qvn3")
        self.assertIn("--system stop qvn3.service qvn3@*.service", calls)
        self.assertFalse(os.path.exists("/usr/bin/qvn3"))
        self.assertFalse(os.path.exists("/lib/systemd/system/qvn3@.service"))
        for path in ("/etc/qvn3/client.cfg", "/var/lib/qvn3/queue.dat", "/var/lib/qvn3-instances/1"):
            self.assertTrue(os.path.exists(path), path)
        self.assertTrue(os.path.islink(WANTS))

        # purge: everything of the client's goes
        calls = self.dpkg("--purge", "qvn3")
        self.assertIn(installed_version(), ("", "unknown ok not-installed "))
        for path in STATE + (WANTS,):
            self.assertFalse(os.path.lexists(path), path)
        self.assertIn("--system daemon-reload", calls)


if __name__ == "__main__":
    unittest.main()
