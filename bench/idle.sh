#!/usr/bin/env bash
# The client's own cost while a core works: runs qvn3 on one unit whose stand-in core takes a step every
# 10 s, and reads over 60 s the client's CPU time (user + system, from /proc) and its wake-ups (voluntary
# context switches of all its threads, from /proc/<pid>/task/*/status); prints the wake-ups per minute and,
# last, "client cpu X%" as a share of one processor. Goals: under 10 wake-ups a minute, under 0.01%. Runs in
# a private network namespace.
# Usage: bench/idle.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
seconds=${2:-60}
cmake --build "$build" --target qvn3 demo_core >/dev/null
exec python3 "$here/../tests/blackbox/netns_run.py" python3 - "$build" "$seconds" "$here/../tests/blackbox" <<'PY'
import os, shutil, signal, subprocess, sys, tempfile, time
build, seconds, blackbox = sys.argv[1], float(sys.argv[2]), sys.argv[3]
sys.path.insert(0, blackbox)
from harness import prepare
from queue_image import entry, queue
now = int(time.time()) - 946684800
work = tempfile.mkdtemp(prefix="qvn-idle-")
prepare(work, queue=queue([entry(1, received=now - 60, core=0x65, address=0x7F000001, port=8080)]))
os.mkdir(os.path.join(work, "work"))
with open(os.path.join(work, "work", "wudata_00.dat"), "wb") as f:
    f.write(bytes(4096))
shutil.copy(os.path.join(build, "tools", "demo_core"), os.path.join(work, "QvnCore_65.exe"))
env = dict(os.environ, QVN_CORE_STEPS="100000", QVN_CORE_STEP_MS="10000")
client = subprocess.Popen([os.path.join(build, "qvn3")], cwd=work, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, env=env, start_new_session=True)
def cpu_ticks():
    with open("/proc/%d/stat" % client.pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime
def wakeups():
    total = 0
    for task in os.listdir("/proc/%d/task" % client.pid):
        try:
            with open("/proc/%d/task/%s/status" % (client.pid, task)) as f:
                total += sum(int(l.split()[1]) for l in f if l.startswith("voluntary_ctxt_switches"))
        except OSError:
            pass  # a thread that ended meanwhile
    return total
log = os.path.join(work, "QVNlog.txt")
deadline = time.monotonic() + 60
while time.monotonic() < deadline and not (os.path.exists(log) and b"+ Working ..." in open(log, "rb").read()):
    time.sleep(0.2)
time.sleep(2)
start, woken = cpu_ticks(), wakeups()
time.sleep(seconds)
used = (cpu_ticks() - start) / os.sysconf("SC_CLK_TCK")
woken = wakeups() - woken
os.killpg(client.pid, signal.SIGKILL)
client.wait()
shutil.rmtree(work)
print("client wake-ups %.1f a minute" % (woken * 60.0 / seconds))
print("client cpu time %.3f s over %.0f s" % (used, seconds))
print("client cpu %.3f%%" % (100.0 * used / seconds))
PY
