"""Runs the built client in a scratch working directory, bounded in time, for black-box tests."""
import os
import re
import signal
import struct
import subprocess
import tempfile
import time

CLIENT = os.environ.get("QVN3", "")
STAMP = re.compile(r"^\[\d\d:\d\d:\d\d\] ", re.M)


def unstamped(text):
    """The output with the time stamps at line starts removed."""
    return STAMP.sub("", text)


DEFAULT_CONFIG = ("[settings]\nusername=Volunteer\nteam=42\nasknet=no\nmachineid=1\n\n"
                  "[http]\nactive=no\nhost=localhost\nport=8080\n\n")
USER_ID = 0x0123456789ABCDEF


def wait_until(predicate, timeout):
    """Polls predicate until it holds (True) or timeout seconds have passed (False)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def prepare(workdir, config=DEFAULT_CONFIG, user_id=USER_ID, queue=None):
    """Writes client.cfg, machinedependent.dat (8 bytes, little-endian) and, if given, queue.dat."""
    if config is not None:
        with open(os.path.join(workdir, "client.cfg"), "w") as f:
            f.write(config)
    if user_id is not None:
        with open(os.path.join(workdir, "machinedependent.dat"), "wb") as f:
            f.write(struct.pack("<Q", user_id))
    if queue is not None:
        with open(os.path.join(workdir, "queue.dat"), "wb") as f:
            f.write(queue)


class Client:
    """One client process in its own temporary working directory."""

    def __init__(self, args, workdir=None, program=None, stdin_data=b"", files=None, env=None):
        self.tmp = None
        if workdir is None:
            self.tmp = tempfile.TemporaryDirectory(prefix="qvn-bb-")
            workdir = self.tmp.name
        if files is not None:
            prepare(workdir, **files)
        self.workdir = workdir
        program = program or CLIENT
        self.out_path = os.path.join(workdir, ".stdout")
        self.out = open(self.out_path, "wb")
        environment = dict(os.environ)
        environment.update(env or {})
        # A session of its own, so that close() can end the client and any core it started as one group
        # and a Ctrl-C can be sent to that group alone.
        self.proc = subprocess.Popen([program] + list(args), cwd=workdir, stdin=subprocess.PIPE,
                                     stdout=self.out, stderr=subprocess.STDOUT, env=environment,
                                     start_new_session=True)
        if stdin_data is not None:
            self.proc.stdin.write(stdin_data)
            self.proc.stdin.close()

    def output(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("latin-1")

    def wait_for(self, text, timeout=60):
        """Waits until the output holds text; fails the wait after timeout seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if text in self.output():
                return True
            if self.proc.poll() is not None:
                return text in self.output()
            time.sleep(0.05)
        return False

    def signal(self, number):
        self.proc.send_signal(number)

    def finish(self, timeout=60):
        """Waits for the exit and returns (status, output); a client still running is killed."""
        try:
            status = self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            status = None
        self.out.close()
        return status, self.output()

    def log(self):
        with open(os.path.join(self.workdir, "QVNlog.txt"), "rb") as f:
            return f.read().decode("latin-1")

    def signal_group(self, number):
        os.killpg(self.proc.pid, number)

    def close(self):
        try:
            os.killpg(self.proc.pid, signal.SIGKILL)  # the client and any core it started
        except ProcessLookupError:
            pass
        if self.proc.poll() is None:
            self.proc.wait()
        if not self.out.closed:
            self.out.close()
        if self.proc.stdin and not self.proc.stdin.closed:
            self.proc.stdin.close()
        if self.tmp is not None:
            self.tmp.cleanup()
