"""The client against the stand-in project (in a private network namespace): the user ID of a first run, a
unit fetched, run and returned with the exact bytes on the wire, the secondary assignment server, every
answer to a result, every fault a server can commit, and the fetch that follows a purge."""
import os
import shutil
import struct
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))

from harness import Client, prepare, unstamped, wait_until  # noqa: E402
from queue_image import entry, queue, slot_state  # noqa: E402
from stand_in_project import Project, Unit, expected_result  # noqa: E402

CORE = os.environ.get("QVN_DEMO_CORE", "")
PRIMARY_HOST = os.environ.get("QVN_PRIMARY_HOST", "assign1.quorvane.org")
SECONDARY_HOST = os.environ.get("QVN_SECONDARY_HOST", "assign2.quorvane.org")
EPOCH_OFFSET = 946684800
CONFIG = ("[settings]\nusername=Volunteer\nteam=42\nasknet=no\nmachineid=1\n\n"
          "[http]\nactive=no\nhost=localhost\nport=8080\n\n")
USER_ID = 0x0123456789ABCDEF
WORK_SERVER = 0x7F000004
ENTRY = 700
HEADER_AT = 172


def body_of(request):
    return request.partition(b"\r\n\r\n")[2]


def be32(data, at):
    return struct.unpack_from(">I", data, at)[0]


def text_at(data, at, size=64):
    return data[at:at + size].split(b"\0", 1)[0].decode("latin-1")


def read(workdir, name, mode="rb"):
    with open(os.path.join(workdir, name), mode) as f:
        return f.read()


class ExchangeTest(unittest.TestCase):
    def setUp(self):
        self.project = Project().start()
        self.addCleanup(self.project.stop)

    def workdir(self, core=True, **files):
        tmp = tempfile.TemporaryDirectory(prefix="qvn-exchange-")
        self.addCleanup(tmp.cleanup)
        files.setdefault("config", CONFIG)
        prepare(tmp.name, **files)
        if core:
            shutil.copy(CORE, os.path.join(tmp.name, "QvnCore_65.exe"))
        return tmp.name

    def start(self, workdir, args=(), env=None):
        client = Client(list(args), workdir=workdir, env=env)
        self.addCleanup(client.close)
        return client

    def wait_log(self, client, text, timeout=60):
        def logged():
            path = os.path.join(client.workdir, "QVNlog.txt")
            return os.path.exists(path) and text in unstamped(client.log())
        if not wait_until(logged, timeout):
            self.fail("not logged: %r\n%s" % (text, client.output()))

    def stop(self, client):
        client.signal(15)
        status, out = client.finish(timeout=30)
        self.assertEqual(status, 0, out)


class RoadOfAUnit(ExchangeTest):
    def test_first_run_gets_its_id_then_fetches_runs_and_returns_a_unit(self):
        payload = bytes(range(256)) * 40
        self.project.units.append(Unit(core=0x65, payload=payload, deadline=86400, name="Gromacs"))
        # text from the server and from the core reaches the console with its control bytes shown as "?"
        self.project.news = "Welcome to the stand-in\x1b[2J project\x07"
        wd = self.workdir(user_id=None)
        client = self.start(wd, ["-verbosity", "4"], env={"QVN_CORE_STEPS": "2", "QVN_CORE_STEP_MS": "10",
                                                          "QVN_CORE_SAY": "\x1b]0;owned\x07\tcore\rsays hi"})
        self.wait_log(client, "Thank you for your contribution to Quorvane.\n")
        log = unstamped(client.log())

        # the user ID: exact request, reply converted, stored little-endian
        request = self.project.requests["primary"][0]
        host = "%s:8080" % PRIMARY_HOST
        self.assertTrue(request.startswith(("POST http://%s/ HTTP/1.1\r\nHost: %s\r\nConnection: Keep-Alive\r\n"
                                            "Content-Length: 432\r\n\r\n" % (host, host)).encode()), request[:200])
        body = body_of(request)
        self.assertEqual(len(body), 432)
        self.assertEqual(be32(body, 0), 11)
        self.assertEqual((text_at(body, 24, 8), be32(body, 32), be32(body, 40)), ("3.25", 1, 4))
        self.assertEqual((text_at(body, 48), text_at(body, 112)), ("Volunteer", "42"))
        self.assertEqual(body[8:24] + body[176:192], bytes(32))
        self.assertIn("- Received User ID = 10000002A\n", log)
        self.assertEqual(read(wd, "machinedependent.dat"), struct.pack("<Q", 0x10000002A))

        # the assignment and the work request
        assign = body_of(self.project.requests["primary"][1])
        self.assertEqual(be32(assign, 0), 10)
        self.assertEqual(struct.unpack_from(">Q", assign, 16)[0], 0x10000002A)
        self.assertIn("- Successful: assigned to (127.0.0.4).\n+ News From Quorvane: Welcome to the stand-in?[2J "
                      "project?\n", log)
        self.assertIn("?]0;owned?\tcore?says hi\n", log)
        self.assertNotIn("\x1b", client.output())
        work = self.project.requests["work"][0]
        self.assertTrue(work.startswith(b"POST http://127.0.0.4:8080/ HTTP/1.1\r\nHost: 127.0.0.4:8080\r\n"
                                        b"Connection: Keep-Alive\r\nContent-Length: 512\r\n\r\n"))
        w = body_of(work)
        self.assertEqual([be32(w, at) for at in (0, 4, 8, 12, 84, 88, 324)],
                         [100, 101, 325, 0, 1, WORKER_ADDRESS, 0])
        self.assertEqual(struct.unpack_from(">Q", w, 288)[0], 0x10000002A + 1)
        self.assertEqual((text_at(w, 160), text_at(w, 224)), ("Volunteer", "42"))

        # the unit ran on the stand-in core and its result went back whole
        header, results = self.project.results[0]
        self.assertEqual(results, expected_result(payload))
        self.assertEqual([be32(header, at) for at in (0, 4, 8, 12, 88, 304, 308)],
                         [300, 0x65, 325, len(results), WORKER_ADDRESS, 1, 4])
        # a first installation has counted nothing yet
        self.assertIn("+ Starting local stats count at 1\n", log)
        self.assertNotIn("+ Number of Units Completed", log)
        # the count is saved just after it is logged
        self.assertTrue(wait_until(lambda: "local=1\n" in read(wd, "client.cfg", "r"), 30), read(wd, "client.cfg", "r"))
        self.stop(client)

    def test_the_stored_entry_keeps_location_times_and_the_converted_header(self):
        self.project.units.append(Unit(core=0x65, payload=b"x" * 3000, deadline=86400, name="Gromacs"))
        self.project.option = 0x10
        wd = self.workdir(core=False, user_id=USER_ID)
        before = int(time.time()) - EPOCH_OFFSET
        client = self.start(wd)
        self.wait_log(client, "Core not found.\n")
        after = int(time.time()) - EPOCH_OFFSET
        image = read(wd, "queue.dat")
        self.assertEqual(slot_state(image, 1), 1, "fetched into the slot after the current one")
        e = image[8 + ENTRY:8 + 2 * ENTRY]
        received, = struct.unpack_from("<q", e, 4)
        self.assertTrue(before <= received <= after)
        self.assertEqual(struct.unpack_from("<I", e, 36)[0], 1, "deadline known")
        self.assertEqual(struct.unpack_from("<qQ", e, 684), (received + 86400, 0))
        self.assertEqual(text_at(e, 44, 127), "127.0.0.5/cores")
        self.assertEqual(e[171], 0x10)
        h = e[HEADER_AT:HEADER_AT + 512]
        self.assertEqual(struct.unpack_from("<IIII", h, 0), (500, 0x65, 325, 3000))
        self.assertEqual(struct.unpack_from("<II", h, 88), (WORKER_ADDRESS, 8080))  # port 0: the assignment port
        self.assertEqual(struct.unpack_from("<i", h, 320)[0], 86400)
        self.assertEqual(text_at(h, 96), "Gromacs")
        self.assertEqual(read(wd, "work/wudata_01.dat"), b"x" * 3000)
        self.stop(client)

    def test_a_user_id_comes_from_the_secondary_server_and_is_asked_for_eleven_times_at_most(self):
        self.project.down.add("primary")
        wd = self.workdir(user_id=None)
        client = self.start(wd, ["-verbosity", "4"], env={"QVN_CORE_STEPS": "1", "QVN_CORE_STEP_MS": "10"})
        self.wait_log(client, "- Received User ID = 10000002A\n")
        self.stop(client)
        self.assertEqual(read(wd, "machinedependent.dat"), struct.pack("<Q", 0x10000002A))
        self.assertEqual(be32(body_of(self.project.requests["secondary"][0]), 0), 11)  # the user-ID request

        self.project.down.add("secondary")
        wd = self.workdir(user_id=None)
        client = self.start(wd, ["-verbosity", "4"])
        fatal = "- Fatal: Could not get new user ID\n"
        self.wait_log(client, fatal, timeout=120)
        client.close()  # still in start-up, before the handler of SIGTERM is in place
        first_round = unstamped(client.log()).split(fatal, 1)[0]
        self.assertEqual(first_round.count("+ Could not connect to Secondary Assignment Server for ID\n"), 11, first_round)
        self.assertEqual(first_round.count("+ Could not get ID from server. Retrying...\n"), 10, first_round)
        self.assertFalse(os.path.exists(os.path.join(wd, "machinedependent.dat")))

    def test_primary_down_the_secondary_assigns_and_work_and_results_use_port_80(self):
        self.project.down.add("primary")
        wd = self.workdir(user_id=USER_ID)
        client = self.start(wd, env={"QVN_CORE_STEPS": "1", "QVN_CORE_STEP_MS": "10"})
        self.wait_log(client, "+ Results successfully sent\n")
        log = unstamped(client.log())
        self.assertIn("+ Could not connect to Assignment Server\n- Successful: assigned to (127.0.0.4).\n", log)
        self.assertTrue(self.project.requests["secondary"][0].startswith(
            ("POST http://%s:80/ HTTP/1.1\r\n" % SECONDARY_HOST).encode()))
        self.assertTrue(self.project.requests["work"][0].startswith(b"POST http://127.0.0.4:80/ HTTP/1.1\r\n"))
        self.assertTrue(self.project.requests["work"][1].startswith(b"POST http://127.0.0.4:80/ HTTP/1.1\r\n"))
        self.assertEqual(be32(self.project.requests["work"][1].partition(b"\r\n\r\n")[2], 0), 300)
        self.stop(client)


class Answers(ExchangeTest):
    # answer -> (slot state afterwards, counted, a line of the log)
    TABLE = [
        (400, 0, True, "+ Results successfully sent\nThank you for your contribution to Quorvane.\n"),
        (404, 0, False, "- Server reports problem with unit.\n"),
        (420, 0, False, "- Core version used on unit below what server demands.\n"),
        (430, 0, False, "- Core type used on unit not what server demands.\n"),
        (434, 0, False, "- Server has already received unit.\n"),
        (440, 0, False, "- Server reports deadline for unit has passed.\n"),
        (444, 2, False, "- Server reports digital signature does not match.\n  (May be due to corruption during "
                        "network transmission or a corrupted file.)\n"),
        (450, 2, False, "- Server reports packet it received specified a data size of 0.\n"),
        (454, 2, False, "- Server reports packet it received an incomplete payload.\n  (May be due to packet loss "
                        "during network transmission or a corrupted file.)\n"),
        (999, 2, False, "- Unknown packet returned from server, expected ACK for results\n"),
    ]

    def test_each_answer_gets_its_slot_action(self):
        now = int(time.time()) - EPOCH_OFFSET
        done = entry(2, received=now - 60, completed=now - 30, finished=1, core=0x65, address=WORKER_ADDRESS,
                     port=8080)
        runs = []
        for code, _, _, _ in self.TABLE:  # side by side: each result names the answer it gets
            wd = self.workdir(core=False, user_id=USER_ID, queue=queue([done]))
            os.mkdir(os.path.join(wd, "work"))
            with open(os.path.join(wd, "work", "wuresults_00.dat"), "wb") as f:
                f.write(b"answer %d" % code)
            runs.append((wd, self.start(wd, ["-send", "0"])))
        for (code, state, counted, line), (wd, client) in zip(self.TABLE, runs):
            with self.subTest(answer=code):
                status, out = client.finish(timeout=60)
                self.assertEqual(status, 0, out)
                self.assertIn(line, unstamped(out))
                self.assertEqual(slot_state(read(wd, "queue.dat"), 0), state)
                self.assertEqual("local=1" in read(wd, "client.cfg", "r"), counted)
                self.assertEqual(os.path.exists(os.path.join(wd, "work", "wuresults_00.dat")), code != 400)
        self.assertEqual(sorted(r for _, r in self.project.results), sorted(b"answer %d" % c for c, _, _, _ in self.TABLE))

    def test_what_is_sent_and_what_cannot_be(self):
        limit = 2097152
        # (case, results file or None, the entry's address and port, the line, the slot's state afterwards)
        cases = [
            ("no results file", None, (WORKER_ADDRESS, 8080),
             "- Error: Could not read results file work/wuresults_00.dat from disk\n", 0),
            ("an empty results file", b"", (WORKER_ADDRESS, 8080),
             "- Error: Could not read results file work/wuresults_00.dat from disk\n", 0),
            ("no work server address", b"result", (0, 8080), "- Error: Results file corrupt\n", 0),
            ("a server that refuses the connection", b"result", (WORKER_ADDRESS, 8099),
             "+ Could not connect to Work Server (results)\n", 2),
            ("results past the size limit", b"r" * 3000000, (WORKER_ADDRESS, 8080),
             "+ Results successfully sent\n", 0),
        ]
        now = int(time.time()) - EPOCH_OFFSET
        runs = []
        for _, results, (address, port), _, _ in cases:
            done = entry(2, received=now - 60, completed=now - 30, finished=1, core=0x65, address=address, port=port)
            wd = self.workdir(core=False, user_id=USER_ID, queue=queue([done]))
            os.mkdir(os.path.join(wd, "work"))
            with open(os.path.join(wd, "work", "current.xyz"), "wb") as f:
                f.write(b"the core's checkpoint")
            if results is not None:
                with open(os.path.join(wd, "work", "wuresults_00.dat"), "wb") as f:
                    f.write(results)
            runs.append((wd, self.start(wd, ["-send", "0"])))
        for (name, _, _, line, state), (wd, client) in zip(cases, runs):
            with self.subTest(case=name):
                status, out = client.finish(timeout=60)
                self.assertEqual(status, 0, out)
                self.assertIn(line, unstamped(out))
                self.assertEqual(slot_state(read(wd, "queue.dat"), 0), state)
                # an accepted unit's checkpoint goes with it
                accepted = "successfully sent" in line
                self.assertEqual(os.path.exists(os.path.join(wd, "work", "current.xyz")), not accepted)
        header, body = self.project.results[0]
        self.assertEqual(len(self.project.results), 1)
        self.assertEqual((be32(header, 12), body), (limit, b"r" * limit))  # only the first 2 MiB go


class FetchedUnits(ExchangeTest):
    LIMIT = 2097152
    CONFIG_TYPE_2 = CONFIG + "[clienttype]\ntype=2\n\n"

    # (what the server hands out, config, arguments, the line it leads to, whether the unit is stored)
    def cases(self):
        big = bytes(range(256)) * (self.LIMIT // 256)
        return [
            ("a reply of another type", Unit(packet_type=300), CONFIG, [],
             "- Error: Bad packet type from server, expected work assignment\n", False),
            ("one byte over the size limit", Unit(payload_size=self.LIMIT + 1), CONFIG, [],
             "- Error: Work packet too large\n", False),
            ("exactly the size limit", Unit(payload=big), CONFIG, [], "+ Received work.\n", True),
            ("deadline 0", Unit(deadline=0), CONFIG, [], "- Deadline time not received.\n", True),
            ("deadline -5", Unit(deadline=-5), CONFIG, [], "- Deadline time not received.\n", True),
            ("stored header address 0", Unit(address=0), CONFIG, [], "+ Work Unit has an invalid address\n", False),
            ("a port of its own", Unit(port=8081), CONFIG, [], "+ Received work.\n", True),
            ("client type 2", Unit(), self.CONFIG_TYPE_2, [], "+ Received work.\n", True),
            ("-advmethods with no type", Unit(), CONFIG, ["-advmethods"], "+ Received work.\n", True),
        ]

    def test_each_reply_is_recorded_or_refused_as_it_must_be(self):
        for name, unit, config, args, line, stored in self.cases():
            with self.subTest(case=name):
                self.project.requests["work"].clear()
                # a refused unit is refused again at every retry, so nothing else is fetched meanwhile
                self.project.units[:] = [unit] if stored else [unit] * 1000
                wd = self.workdir(user_id=USER_ID, config=config)
                # a stored unit's core runs on while the slot is examined
                client = self.start(wd, ["-verbosity", "4"] + args,
                                    env={"QVN_CORE_STEPS": "1000", "QVN_CORE_STEP_MS": "100"})
                self.wait_log(client, line)
                if stored:
                    self.wait_log(client, "+ Working ...\n")
                self.stop(client)
                image = read(wd, "queue.dat")
                request = body_of(self.project.requests["work"][0])
                self.assertEqual(be32(request, 4), 201 if "type=2" in config else 101)  # the core type asked for
                held = [n for n in range(10) if slot_state(image, n) != 0]
                self.assertEqual(len(held), 1 if stored else 0, name)
                if not stored:
                    continue
                slot = image[8 + held[0] * ENTRY:8 + (held[0] + 1) * ENTRY]
                deadline_known = struct.unpack_from("<I", slot, 36)[0]
                self.assertEqual(deadline_known, 1 if unit.deadline > 0 else 0, name)
                port = struct.unpack_from("<I", slot, HEADER_AT + 92)[0]
                self.assertEqual(port, unit.port or 8080, name)  # 0: the assignment server's port
                data = os.path.join(wd, "work", "wudata_%02d.dat" % held[0])
                self.assertEqual(os.path.getsize(data), len(unit.payload), name)

    def test_an_assignment_naming_no_work_server_is_not_followed(self):
        self.project.assigned_address = 0
        wd = self.workdir(core=False, user_id=USER_ID)
        client = self.start(wd)
        self.wait_log(client, "Work Unit has an invalid address.\n")
        self.stop(client)
        self.assertEqual(self.project.requests["work"], [])


class Modes(ExchangeTest):
    def test_send_all_returns_every_finished_unit(self):
        now = int(time.time()) - EPOCH_OFFSET
        done = [entry(2, received=now - 60, completed=now - 30, finished=1, core=0x65, address=WORKER_ADDRESS,
                      port=8080, name=b"unit %d" % n) for n in range(3)]
        wd = self.workdir(core=False, user_id=USER_ID, queue=queue(done))
        os.mkdir(os.path.join(wd, "work"))
        for n in range(3):
            with open(os.path.join(wd, "work", "wuresults_%02d.dat" % n), "wb") as f:
                f.write(b"result %d" % n)
        status, out = self.start(wd, ["-send", "all"]).finish(timeout=60)
        self.assertEqual(status, 0, out)
        self.assertEqual(sorted(self.project.accepted), [b"result 0", b"result 1", b"result 2"])
        image = read(wd, "queue.dat")
        self.assertEqual([slot_state(image, n) for n in range(3)], [0, 0, 0])

    def test_pause_waits_after_the_first_result_and_asknet_says_when_to_disconnect(self):
        wd = self.workdir(user_id=USER_ID, config=CONFIG.replace("asknet=no", "asknet=yes"))
        client = self.start(wd, ["-pause"], env={"QVN_CORE_STEPS": "1", "QVN_CORE_STEP_MS": "10"})
        paused = "+ Paused after finishing unit\nPress Enter to continue, Ctrl-C to exit...\n"
        self.wait_log(client, paused)
        # the input has ended, which answers the question: the next unit is fetched
        self.assertTrue(wait_until(lambda: "+ Attempting to get work packet" in unstamped(client.log()).split(paused)[1],
                                   60), client.output())
        self.assertTrue(wait_until(lambda: unstamped(client.log()).count("+ Results successfully sent\n") >= 2, 60),
                        client.output())
        log = unstamped(client.log())
        self.assertEqual(log.count("+ Paused after finishing unit"), 1)  # after the first result only
        self.assertIn("- Ask before connecting: Yes\n", log)
        self.assertIn("+ Connections closed: You may now disconnect\n", log)
        self.assertNotIn("+ Closed connections\n", log)
        self.stop(client)


    def test_the_send_thread_tries_again_at_every_pass(self):
        # a result whose server is away at first: the send thread's next pass (every six hours, shortened
        # here) returns it once the server is back, while the work cycle waits for work it cannot get
        self.project.down.update({"work", "primary", "secondary"})
        now = int(time.time()) - EPOCH_OFFSET
        done = entry(2, received=now - 60, completed=now - 30, finished=1, core=0x65, address=WORKER_ADDRESS,
                     port=8080)
        wd = self.workdir(core=False, user_id=USER_ID, queue=queue([done]))
        os.mkdir(os.path.join(wd, "work"))
        with open(os.path.join(wd, "work", "wuresults_00.dat"), "wb") as f:
            f.write(b"a patient result")
        client = self.start(wd, ["-verbosity", "6"], env={"QVN_TEST_AUTOSEND_MS": "1000"})
        self.wait_log(client, "+ Could not connect to Work Server (results)\n")
        self.project.down.discard("work")
        self.wait_log(client, "+ Results successfully sent\n")
        self.assertEqual(self.project.accepted, [b"a patient result"])
        self.assertGreaterEqual(unstamped(client.log()).count("- Autosending finished units...\n"), 2)
        self.stop(client)


class FullQueue(ExchangeTest):
    def test_a_full_queue_gives_its_oldest_unit_up_for_new_work(self):
        # ten results no server takes (their port refuses), the one received earliest in slot 4
        now = int(time.time()) - EPOCH_OFFSET
        slots = [entry(2, received=now - (1000 if n == 4 else 100 + n), completed=now - 30, finished=1, core=0x65,
                       address=WORKER_ADDRESS, port=8099, name=b"waiting %d" % n) for n in range(10)]
        wd = self.workdir(user_id=USER_ID, queue=queue(slots))
        os.mkdir(os.path.join(wd, "work"))
        for n in range(10):
            with open(os.path.join(wd, "work", "wuresults_%02d.dat" % n), "wb") as f:
                f.write(b"result %d" % n)
        client = self.start(wd, env={"QVN_CORE_STEPS": "1000", "QVN_CORE_STEP_MS": "100"})
        self.wait_log(client, "+ Working ...\n")
        self.stop(client)
        log = unstamped(client.log())
        self.assertIn("- Work queue full. Deleting oldest item\n", log)
        self.assertIn("Working on Unit 04", log)
        image = read(wd, "queue.dat")
        self.assertEqual([slot_state(image, n) for n in range(10)], [2, 2, 2, 2, 1, 2, 2, 2, 2, 2])
        self.assertEqual(image[8 + 4 * ENTRY + HEADER_AT + 96:8 + 4 * ENTRY + HEADER_AT + 100], b"Demo")  # the new unit

    def test_a_full_queue_that_cannot_be_saved_stops_the_work_but_not_the_client(self):
        now = int(time.time()) - EPOCH_OFFSET
        slots = [entry(2, received=now - 100 - n, completed=now - 30, finished=1, core=0x65, address=WORKER_ADDRESS,
                       port=8099) for n in range(10)]
        wd = self.workdir(user_id=USER_ID, queue=queue(slots))
        os.mkdir(os.path.join(wd, "work"))
        for n in range(10):
            with open(os.path.join(wd, "work", "wuresults_%02d.dat" % n), "wb") as f:
                f.write(b"result %d" % n)
        os.mkdir(os.path.join(wd, "queue.dat.new"))  # where the next save would go: no save can succeed
        client = self.start(wd)
        self.wait_log(client, "Fatal: Work queue full\n")
        self.assertIn("- Fatal Error: Queue full, but delete failed\n", unstamped(client.log()))
        self.assertIsNone(client.proc.poll(), "the client stays up after its work cycle ended")
        self.stop(client)  # and still answers SIGTERM
        self.assertEqual(read(wd, "queue.dat"), queue(slots), "the queue on disk is as it was")


class Faults(ExchangeTest):
    FAULTS = ["refuse", "silent", "dribble", "close_header", "close_body", "garbage", "huge_length", "huge_chunk",
              "5xx", "continue"]

    def test_every_fault_is_given_up_on_retried_and_survived(self):
        self.project.faults["work"].extend(self.FAULTS)
        # a unit spoilt by a fault is lost to the server too: each attempt gets one
        self.project.units.extend(Unit(core=0x65, payload=b"healed" * 100) for _ in self.FAULTS)
        now = int(time.time()) - EPOCH_OFFSET
        kept = entry(2, received=now - 60, completed=now - 30, core=0x66, address=0x7F0000FE, port=8080)
        wd = self.workdir(core=False, user_id=USER_ID, queue=queue([kept]))
        os.mkdir(os.path.join(wd, "work"))
        with open(os.path.join(wd, "work", "wuresults_00.dat"), "wb") as f:
            f.write(b"waiting for a server that is not there")
        client = self.start(wd, env={"QVN_TEST_EXCHANGE_LIMIT_MS": "1500"})
        self.wait_log(client, "Core required: QvnCore_65.exe\n", timeout=120)
        log = unstamped(client.log())
        # Every fault was met and given up on (100 Continue is no fault). A healthy exchange that a loaded
        # machine slows past the short limit only adds a failure, so the count is a floor.
        self.assertEqual(self.project.faults["work"], [], "every fault was served")
        self.assertGreaterEqual(log.count("- Error: Getwork #"), len(self.FAULTS) - 1, log)
        image = read(wd, "queue.dat")
        self.assertEqual(slot_state(image, 0), 2, "the waiting result is kept whole")
        self.assertEqual(image[8:8 + ENTRY], kept)
        self.assertEqual(slot_state(image, 1), 1)
        self.assertEqual(read(wd, "work/wudata_01.dat"), b"healed" * 100)
        self.stop(client)


EXIT_111_CORE = """#!/bin/sh
# A core that never recognises its unit's format; its clean-up removes the unit's files.
case " $* " in *" -cleanup "*) rm -f "$2"wudata_"$4".dat; exit 101;; esac
exit 111
"""


class Purge(ExchangeTest):
    def test_after_the_eleventh_drop_purges_the_queue_work_is_fetched_first(self):
        wd = self.workdir(core=False, user_id=USER_ID)
        core = os.path.join(wd, "QvnCore_65.exe")
        with open(core, "w") as f:
            f.write(EXIT_111_CORE)
        os.chmod(core, 0o755)
        client = self.start(wd)
        purged = "Too many errors during run. Purging queue.\n"
        self.wait_log(client, purged, timeout=150)

        def after_purge():
            return unstamped(client.log()).split(purged, 1)[1]
        self.assertTrue(wait_until(lambda: "+ Processing work unit\n" in after_purge(), 30), client.output())
        after = after_purge()
        self.assertIn("+ Attempting to get work packet\n", after)
        self.assertLess(after.index("+ Attempting to get work packet\n"), after.index("+ Processing work unit\n"))
        self.stop(client)


WORKER_ADDRESS = WORK_SERVER  # 127.0.0.4

if __name__ == "__main__":
    unittest.main()
