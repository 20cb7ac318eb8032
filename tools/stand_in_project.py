#!/usr/bin/env python3
"""A stand-in Quorvane project for tests and the demo: two assignment servers, a work server and a file
server, speaking the client's binary records over HTTP. Written from the record layouts alone (python
standard library: socket, struct, threading), sharing no code with the client, so that a byte-order or
framing mistake in the client cannot cancel out against the same mistake here.

It binds the fixed ports, so it runs inside a private network namespace (tests/blackbox/netns_run.py):
    primary assignment server    127.0.0.2:8080
    secondary assignment server  127.0.0.3:80
    work server                  127.0.0.4:8080 and 127.0.0.4:80 (the client asks it on the assignment port)
    file server (core bundles)   127.0.0.5:80

Scripting (from a test in the same process):
    project = Project(); project.start()
    project.units.append(Unit(core=0x65, payload=b"...", deadline=86400))
    project.faults["primary"].append("silent")      # the next connection to that server misbehaves
    project.answers.append(434)                     # the answer to the next results packet (default 400)
                                                    # (a result "answer 434" is always answered 434)
    project.requests["work"]                        # every request's raw bytes, in order
    project.stop()
Faults, one per connection, in the order queued: "refuse" (reset at once), "silent" (read the request, never
answer), "dribble" (the answer one byte at a time), "close_header", "close_body" (close half-way through),
"garbage" (no status line, a short answer, then close), "huge_length" (a Content-Length that fits no field),
"huge_chunk" (a chunk size far beyond what follows), "continue" (100 Continue before the real answer, which
is no fault), "5xx" (503). A server in project.down refuses every connection.

Command line (the demo): stand_in_project.py [--units N] [--core HEX] [--bundle FILE] [--lifetime S]
"""
import argparse
import socket
import struct
import sys
import threading
import time

from replay_peer import request_complete

PRIMARY = ("127.0.0.2", 8080)
SECONDARY = ("127.0.0.3", 80)
WORK_ADDRESS = "127.0.0.4"
FILES = ("127.0.0.5", 80)

ASSIGN_REQUEST, USER_ID_REQUEST = 10, 11
WORK_REQUEST, WORK_ASSIGNMENT, RESULTS, RESULTS_ACK = 100, 200, 300, 400


def dotted_to_int(text):
    a, b, c, d = (int(x) for x in text.split("."))
    return a << 24 | b << 16 | c << 8 | d


def text_field(value, size):
    raw = value.encode("latin-1") if isinstance(value, str) else value
    return raw[:size].ljust(size, b"\0")


class Unit:
    """One work unit as the work server hands it out."""

    def __init__(self, core=0x65, payload=b"unit data", deadline=86400, port=0, address=None, name="Demo",
                 packet_type=WORK_ASSIGNMENT, payload_size=None):
        self.core = core
        self.payload = payload
        self.deadline = deadline
        self.port = port                # 0: the client takes the assignment port
        self.address = address          # None: the work server's own address
        self.name = name
        self.packet_type = packet_type
        self.payload_size = len(payload) if payload_size is None else payload_size

    def header(self):
        h = bytearray(512)
        struct.pack_into(">I", h, 0, self.packet_type)
        struct.pack_into(">I", h, 4, self.core)
        struct.pack_into(">I", h, 8, 325)
        struct.pack_into(">I", h, 12, self.payload_size)
        address = dotted_to_int(WORK_ADDRESS) if self.address is None else self.address
        struct.pack_into("<I", h, 88, address)   # little-endian on the wire
        struct.pack_into("<I", h, 92, self.port)  # the host's order: little-endian here
        h[96:160] = text_field(self.name, 64)
        struct.pack_into(">i", h, 320, self.deadline)
        return bytes(h)


class Project:
    def __init__(self, location="127.0.0.5/cores", option=0, news="Welcome to the stand-in project",
                 user_id=0x10000002A, check_results=False):
        self.check_results = check_results  # answer 400 only to the demo core's right digest of a unit
        self.location = location
        self.option = option
        self.news = news
        self.user_id = user_id
        self.units = []           # handed out in order; when empty, a default unit
        self.answers = []         # answers to results packets, in order; when empty, 400
        self.files = {}           # path -> bytes (or a list of them, served in turn), from the file server
        self.faults = {name: [] for name in ("primary", "secondary", "work", "files")}
        self.down = set()
        self.assigned_address = None  # the work server the assignment names; None: the stand-in's own
        self.requests = {name: [] for name in ("primary", "secondary", "work", "files")}
        self.results = []         # (header bytes, results bytes) of every results packet received
        self.handed_out = []      # the units handed out
        self.accepted = []        # the results answered 400
        self.lock = threading.Lock()
        self.listeners = []
        self.running = False

    # ----- life cycle
    def start(self):
        self.running = True
        for name, (host, port) in (("primary", PRIMARY), ("secondary", SECONDARY), ("work", (WORK_ADDRESS, 8080)),
                                   ("work", (WORK_ADDRESS, 80)), ("files", FILES)):
            listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind((host, port))
            listener.listen(16)
            listener.settimeout(0.2)
            self.listeners.append(listener)
            threading.Thread(target=self._accept, args=(name, listener), daemon=True).start()
        return self

    def stop(self):
        self.running = False
        time.sleep(0.3)
        for listener in self.listeners:
            listener.close()
        self.listeners = []

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # ----- connections
    def _accept(self, name, listener):
        while self.running:
            try:
                conn, _ = listener.accept()
            except (socket.timeout, OSError):
                continue
            threading.Thread(target=self._serve, args=(name, conn), daemon=True).start()

    def _next_fault(self, name):
        with self.lock:
            if name in self.down:
                return "refuse"
            return self.faults[name].pop(0) if self.faults[name] else None

    def _serve(self, name, conn):
        try:
            fault = self._next_fault(name)
            if fault == "refuse":
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                return
            request = read_request(conn)
            if request is None:
                return
            with self.lock:
                self.requests[name].append(request)
            head, _, body = request.partition(b"\r\n\r\n")
            answer = self._answer(name, head, body)
            self._send(conn, answer, fault)
        except OSError:
            pass
        finally:
            conn.close()

    def _answer(self, name, head, body):
        if name == "files":
            path = head.split(b" ")[1].decode("latin-1")
            path = path.split("://", 1)[-1]
            path = path[path.find("/"):] if "/" in path else "/"
            content = self.files.get(path)
            if isinstance(content, list):  # answered in turn, the last one for ever
                with self.lock:
                    content = content.pop(0) if len(content) > 1 else content[0]
            if content is None:
                return b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"
            return b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(content) + content
        if name in ("primary", "secondary"):
            kind, = struct.unpack_from(">I", body, 0)
            if kind == USER_ID_REQUEST:
                return ok(struct.pack(">Q", self.user_id))
            reply = bytearray(260)
            assigned = dotted_to_int(WORK_ADDRESS) if self.assigned_address is None else self.assigned_address
            struct.pack_into(">I", reply, 0, assigned)
            reply[4:131] = text_field(self.location, 127)
            reply[131] = self.option
            reply[132:260] = text_field(self.news, 128)
            return ok(bytes(reply))
        kind, = struct.unpack_from(">I", body, 0)
        if kind == WORK_REQUEST:
            with self.lock:
                unit = self.units.pop(0) if self.units else Unit()
                self.handed_out.append(unit)
            return ok(unit.header() + unit.payload)
        if kind == RESULTS:
            with self.lock:
                self.results.append((body[:512], body[512:]))
                code = self.answers.pop(0) if self.answers else RESULTS_ACK
                asked = body[512:].split(b" ")
                if len(asked) == 2 and asked[0] == b"answer" and asked[1].isdigit():
                    code = int(asked[1])  # a test's result that names its own answer
                if self.check_results and body[512:] not in {expected_result(u.payload) for u in self.handed_out}:
                    code = 404  # UNIT_PROBLEM: not the result of any unit handed out
                if code == RESULTS_ACK:
                    self.accepted.append(body[512:])
            reply = bytearray(512)
            struct.pack_into(">I", reply, 0, code)
            return ok(bytes(reply))
        return b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"

    def _send(self, conn, answer, fault):
        head_end = answer.find(b"\r\n\r\n") + 4
        if fault is None:
            conn.sendall(answer)
        elif fault == "silent":
            self._linger(conn)
        elif fault == "dribble":
            for i in range(len(answer)):
                conn.sendall(answer[i:i + 1])
                time.sleep(0.02)
                if not self.running:
                    return
        elif fault == "close_header":
            conn.sendall(answer[:head_end // 2])
        elif fault == "close_body":
            conn.sendall(answer[:head_end + (len(answer) - head_end) // 2])
        elif fault == "garbage":
            conn.sendall(b"XYZZY\r\n")
        elif fault == "huge_length":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n" + answer[head_end:])
        elif fault == "huge_chunk":
            conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFF\r\nshort")
        elif fault == "continue":
            conn.sendall(b"HTTP/1.1 100 Continue\r\n\r\n" + answer)
        elif fault == "5xx":
            conn.sendall(b"HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")
        else:
            raise ValueError("unknown fault %r" % fault)

    def _linger(self, conn):
        conn.settimeout(0.2)
        while self.running:
            try:
                if conn.recv(4096) == b"":
                    return
            except socket.timeout:
                pass


def fnv1a64(data):
    h = 14695981039346656037
    for b in data:
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return h


def expected_result(payload):
    """What the demo core writes for a unit: its data's 64-bit FNV-1a digest."""
    return b"fnv1a64 %016x\n" % fnv1a64(payload)


def ok(body):
    return b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body


def read_request(conn, limit=10.0):
    """A request header and, when it announces one, its body; None when the client went away."""
    conn.settimeout(limit)
    data = b""
    while True:
        if request_complete(data):
            return data
        try:
            chunk = conn.recv(65536)
        except socket.timeout:
            return None
        if not chunk:
            return None
        data += chunk


def main():
    parser = argparse.ArgumentParser(description="Serve the stand-in project until killed or the lifetime ends.")
    parser.add_argument("--lifetime", type=float, default=600.0)
    parser.add_argument("--core", type=lambda x: int(x, 16), default=0x65)
    parser.add_argument("--bundle", help="a signed core bundle to serve as /cores/Core_<core>.qvn")
    args = parser.parse_args()
    project = Project()
    project.units.extend(Unit(core=args.core, payload=bytes(range(256)) * 64) for _ in range(1000))
    if args.bundle:
        with open(args.bundle, "rb") as f:
            project.files["/cores/Core_%x.qvn" % args.core] = f.read()
    project.start()
    print("stand-in project serving", flush=True)
    deadline = time.monotonic() + args.lifetime
    try:
        while time.monotonic() < deadline:
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass
    project.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
