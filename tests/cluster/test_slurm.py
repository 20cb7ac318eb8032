"""The client as a Slurm job on a real one-node Slurm (munged, slurmctld and slurmd started here, in the private
network namespace, with the stand-in project): the batch script runs the client on the low-priority partition,
a job on the high-priority partition that needs every processor preempts it, the client ends with status 0
with its queue saved, the requeued job is released and resumes the same unit in the same slot, and its
result is accepted exactly once; a client warned of its time limit ends the same way and its job is
requeued too. Needs root and the packages slurm-wlm and munge; skips with a message
otherwise. Prints the time from the preemption to the client's exit and the test's total time."""
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path.insert(0, str(ROOT / "tests" / "blackbox"))
sys.path.insert(0, str(ROOT / "tools"))

from harness import unstamped, wait_until  # noqa: E402
from queue_image import slot_state  # noqa: E402
from stand_in_project import Project, Unit, expected_result  # noqa: E402

SCRIPT = ROOT / "packaging" / "slurm" / "qvn3.sbatch"
CLIENT = os.environ.get("QVN3", "")
CORE = os.environ.get("QVN_DEMO_CORE", "")
SEED = "[settings]\nusername=Cluster\nteam=5\nasknet=no\n\n[http]\nactive=no\nhost=localhost\nport=8080\n"
PAYLOAD = b"the unit that is preempted " * 40
GRACE = 30
DAEMONS = ("munged", "slurmctld", "slurmd", "sbatch", "scontrol", "squeue")


def missing():
    if os.geteuid() != 0:
        return "the Slurm daemons run as root here; run as root (CI does)"
    absent = [d for d in DAEMONS if shutil.which(d) is None]
    if absent:
        return "missing %s (tools/packages.sh installs slurm-wlm and munge)" % ", ".join(absent)
    if os.environ.get("QVN_IN_NETNS") != "1":
        return "runs inside tests/blackbox/netns_run.py only (its own network namespace)"
    return None


def node_line():
    """This machine's processors and memory as slurmd finds them, for a node called localhost."""
    found = subprocess.run(["slurmd", "-C"], capture_output=True, text=True, timeout=60, check=True).stdout
    words = found.splitlines()[0].split()
    cpus = int([w for w in words if w.startswith("CPUs=")][0].split("=")[1])
    return " ".join(["NodeName=localhost", "NodeAddr=127.0.0.1"] + words[1:] + ["State=UNKNOWN"]), cpus


def stray_processes(directory):
    """The processes whose working directory or command line lies in directory."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cwd = os.readlink("/proc/%s/cwd" % pid)
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                cmdline = f.read().decode(errors="replace")
        except OSError:
            continue
        if int(pid) != os.getpid() and (cwd.startswith(directory) or directory in cmdline):
            found.append(int(pid))
    return found


@unittest.skipIf(missing(), missing())
class PreemptedAndRequeued(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.started = time.monotonic()
        cls.tmp = tempfile.TemporaryDirectory(prefix="qvn-slurm-")
        cls.dir = pathlib.Path(cls.tmp.name)
        cls.daemons = []
        try:
            cls.start_cluster()
        except BaseException:
            cls.stop_cluster()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.stop_cluster()
        print("\nslurm test: total %.1f s" % (time.monotonic() - cls.started), file=sys.stderr)

    @classmethod
    def daemon(cls, name, command):
        log = open(cls.dir / (name + ".out"), "wb")
        proc = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT, env=cls.env, start_new_session=True)
        cls.daemons.append((name, proc, log))
        return proc

    @classmethod
    def start_cluster(cls):
        d = cls.dir
        # The daemons look their listening address up with AI_ADDRCONFIG, which wants an IPv4 address besides
        # loopback's: one from the documentation range, in this private namespace only.
        subprocess.run(["ip", "addr", "add", "192.0.2.1/32", "dev", "lo"], check=True, capture_output=True)
        for sub in ("munge", "state", "spool", "jobs", "nodes"):
            (d / sub).mkdir(mode=0o700)
        key = d / "munge" / "munge.key"
        key.write_bytes(os.urandom(1024))
        key.chmod(0o400)
        socket_path = d / "munge" / "munge.socket"
        line, cls.cpus = node_line()
        conf = d / "slurm.conf"
        conf.write_text("\n".join([
            "ClusterName=qvntest",
            "SlurmctldHost=%s(127.0.0.1)" % socket.gethostname().split(".")[0],
            "SlurmctldPort=16817", "SlurmdPort=16818",
            "SlurmUser=root", "SlurmdUser=root",
            "AuthType=auth/munge", "CredType=cred/munge", "AuthInfo=socket=%s" % socket_path,
            "StateSaveLocation=%s" % (d / "state"), "SlurmdSpoolDir=%s" % (d / "spool"),
            "SlurmctldPidFile=%s" % (d / "slurmctld.pid"), "SlurmdPidFile=%s" % (d / "slurmd.pid"),
            "SlurmctldLogFile=%s" % (d / "slurmctld.log"), "SlurmdLogFile=%s" % (d / "slurmd.log"),
            "ProctrackType=proctrack/linuxproc", "TaskPlugin=task/none",
            "JobAcctGatherType=jobacct_gather/none", "AccountingStorageType=accounting_storage/none",
            # the main scheduling pass, which also preempts, every two seconds (a minute by default)
            "SchedulerType=sched/builtin", "SchedulerParameters=sched_interval=2",
            "SelectType=select/cons_tres", "SelectTypeParameters=CR_CPU",
            "PreemptType=preempt/partition_prio", "PreemptMode=REQUEUE",
            "MpiDefault=none", "ReturnToService=2", "SlurmdTimeout=60", "InactiveLimit=0", "KillWait=10",
            line,
            "PartitionName=scavenger Nodes=localhost PriorityTier=1 PreemptMode=REQUEUE GraceTime=%d "
            "Default=YES MaxTime=INFINITE State=UP" % GRACE,
            "PartitionName=paying Nodes=localhost PriorityTier=10 PreemptMode=OFF MaxTime=INFINITE State=UP",
            ""]))
        cls.env = dict(os.environ, SLURM_CONF=str(conf))
        cls.daemon("munged", ["munged", "-F", "--force", "--key-file=%s" % key, "--socket=%s" % socket_path,
                              "--pid-file=%s" % (d / "munge" / "munged.pid"),
                              "--log-file=%s" % (d / "munge" / "munged.log"),
                              "--seed-file=%s" % (d / "munge" / "munged.seed")])
        assert wait_until(socket_path.exists, 30), cls.daemon_logs()
        cls.daemon("slurmctld", ["slurmctld", "-D", "-i", "-f", str(conf)])
        cls.daemon("slurmd", ["slurmd", "-D", "-N", "localhost", "-f", str(conf)])
        assert wait_until(lambda: cls.slurm("sinfo", "-h", "-n", "localhost", "-o", "%T").strip() == "idle", 60), \
            cls.daemon_logs()

    @classmethod
    def stop_cluster(cls):
        try:
            if any(name == "slurmctld" for name, _, _ in cls.daemons):
                subprocess.run(["scancel", "--full", "--user=root"], env=cls.env, capture_output=True, timeout=60)
                # the jobs' processes go before the daemons do (the client and its core among them)
                wait_until(lambda: cls.slurm("squeue", "-h", "-t", "R,CG").strip() == "", 60)
        except (OSError, subprocess.SubprocessError):
            pass
        finally:
            for name, proc, log in reversed(cls.daemons):
                if proc.poll() is None:
                    os.killpg(proc.pid, signal.SIGTERM)
                    try:
                        proc.wait(timeout=30)
                    except subprocess.TimeoutExpired:
                        os.killpg(proc.pid, signal.SIGKILL)
                        proc.wait()
                log.close()
            cls.daemons = []
            # whatever a job left (slurmstepd runs in a session of its own): every process working in, or
            # started from, this cluster's directory
            for pid in stray_processes(str(cls.dir)):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            cls.tmp.cleanup()

    @classmethod
    def slurm(cls, *command):
        return subprocess.run(list(command), env=cls.env, capture_output=True, text=True, timeout=60).stdout

    @classmethod
    def daemon_logs(cls):
        texts = []
        for name in ("munge/munged.log", "slurmctld.log", "slurmd.log", "munged.out", "slurmctld.out", "slurmd.out"):
            path = cls.dir / name
            if path.exists():
                texts.append("== %s\n%s" % (name, path.read_text(errors="replace")[-3000:]))
        return "\n".join(texts)

    def job_state(self, job):
        return self.slurm("squeue", "-h", "-j", job, "-o", "%T").strip()

    def test_a_preempted_client_ends_cleanly_and_its_requeued_job_resumes_the_unit(self):
        project = Project().start()
        self.addCleanup(project.stop)
        project.units.append(Unit(core=0x65, payload=PAYLOAD, deadline=86400))
        seed = self.dir / "seed.cfg"
        seed.write_text(SEED)
        seed.chmod(0o600)
        workdir = self.dir / "nodes" / "localhost" / "1"
        workdir.mkdir(parents=True, mode=0o700)
        shutil.copy(CORE, workdir / "QvnCore_65.exe")
        log_path = workdir / "QVNlog.txt"
        out = self.dir / "jobs" / "client.out"
        env = dict(self.env, QVN3_ROOT=str(self.dir / "nodes"), QVN3_SEED=str(seed), QVN3_PROGRAM=CLIENT,
                   QVN3_LIBEXEC=str(ROOT / "packaging"), QVN_CORE_STEPS="300", QVN_CORE_STEP_MS="100")

        def log():
            return unstamped(log_path.read_text(errors="replace")) if log_path.exists() else ""

        def job_out():
            return out.read_text(errors="replace") if out.exists() else ""

        def explain():
            return "%s\n== job output\n%s\n== client log\n%s" % (self.daemon_logs(), job_out(), log()[-4000:])

        job = subprocess.run(["sbatch", "--parsable", "-p", "scavenger", "-D", str(self.dir / "jobs"),
                              "--output", str(out), str(SCRIPT)], env=env, capture_output=True, text=True,
                             timeout=60, check=True).stdout.strip().split(";")[0]
        self.assertTrue(wait_until(lambda: "Finished 2 of 300 steps" in log(), 120), explain())

        # a paying job that needs every processor preempts the client
        preempted_at = time.time()
        subprocess.run(["sbatch", "--parsable", "-p", "paying", "-D", str(self.dir / "jobs"), "-c", str(self.cpus),
                        "--output", str(self.dir / "jobs" / "paying.out"), "--wrap", "sleep 1"],
                       env=self.env, capture_output=True, text=True, timeout=60, check=True)
        self.assertTrue(wait_until(lambda: "client ended with status" in job_out(), GRACE + 60), explain())
        self.assertIn("client ended with status 0", job_out())
        ended = [line for line in job_out().splitlines() if "client ended with status" in line][0]
        ended_at = float(ended.split()[1])
        first_run = log()
        self.assertIn("Quorvane Client Shutdown.", first_run)
        slot = int(first_run.split("Working on Unit ", 1)[1][:2])
        image = (workdir / "queue.dat").read_bytes()
        self.assertEqual(slot_state(image, slot), 1, "the unit is saved READY: %s\n%s" % (
            [slot_state(image, s) for s in range(10)], explain()))

        # requeued: it waits for its begin time, which the test brings forward once the paying job is done
        self.assertTrue(wait_until(lambda: self.job_state(job) == "PENDING", 120), explain())
        self.assertTrue(wait_until(lambda: "paying" not in self.slurm("squeue", "-h", "-o", "%P"), 120), explain())
        subprocess.run(["scontrol", "update", "JobId=%s" % job, "StartTime=now"], env=self.env, check=True,
                       capture_output=True, timeout=60)
        self.assertTrue(wait_until(lambda: "(restart 1)" in job_out(), 120), explain())
        self.assertTrue(wait_until(lambda: "Thank you for your contribution to Quorvane." in log(), 120), explain())

        # the same unit resumed in the same slot, its result accepted once, both runs in the log
        whole = log()
        self.assertTrue(whole.startswith(first_run), "the log of the first run is kept whole")
        self.assertEqual(whole.count("Demo core 1.0 started on unit %02d" % slot), 2, whole[-3000:])
        self.assertEqual(whole.count("Working on Unit "), 2, "no other unit ran meanwhile")
        self.assertEqual([r for r in project.accepted if r == expected_result(PAYLOAD)], [expected_result(PAYLOAD)])
        self.assertEqual(sum(1 for h, r in project.results if r == expected_result(PAYLOAD)), 1)
        print("\nslurm test: preemption to the client's exit %.2f s" % (ended_at - preempted_at), file=sys.stderr)


    def test_a_client_at_its_time_limit_ends_cleanly_and_its_job_is_requeued(self):
        project = Project().start()
        self.addCleanup(project.stop)
        out = self.dir / "jobs" / "limited.out"
        root = self.dir / "limited"
        workdir = root / "localhost" / "1"
        workdir.mkdir(parents=True, mode=0o700)
        shutil.copy(CORE, workdir / "QvnCore_65.exe")
        env = dict(self.env, QVN3_ROOT=str(root), QVN3_SEED=str(self.dir / "no-seed"), QVN3_PROGRAM=CLIENT,
                   QVN3_LIBEXEC=str(ROOT / "packaging"), QVN_CORE_STEPS="3000", QVN_CORE_STEP_MS="100")
        # a minute's limit and the warning 55 s before it: Slurm looks at time limits every 30 s
        job = subprocess.run(["sbatch", "--parsable", "-p", "scavenger", "-D", str(self.dir / "jobs"), "--time=1",
                              "--signal=TERM@55", "--output", str(out), str(SCRIPT)], env=env, capture_output=True,
                             text=True, timeout=60, check=True).stdout.strip().split(";")[0]
        self.addCleanup(lambda: subprocess.run(["scancel", job], env=self.env, capture_output=True, timeout=60))

        def job_out():
            return out.read_text(errors="replace") if out.exists() else ""
        self.assertTrue(wait_until(lambda: "client ended with status" in job_out(), 120), job_out())
        log = unstamped((workdir / "QVNlog.txt").read_text(errors="replace"))
        self.assertIn("Quorvane Client Shutdown.", log)
        self.assertTrue(wait_until(lambda: self.job_state(job) == "PENDING", 60), job_out())
        self.assertIn("BeginTime", self.slurm("squeue", "-h", "-j", job, "-o", "%r"))


if __name__ == "__main__":
    unittest.main()
