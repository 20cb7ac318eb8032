"""The queue file as a volunteer's client finds it: the -queueinfo listing, the start-up purge, and the
conversion of files written by older clients."""
import os
import struct
import unittest

from harness import Client, prepare, unstamped
from queue_image import ENTRY, date, entry, queue, slot_state

FEB = 60 * 86400 + 3 * 3600 + 4 * 60 + 5          # 2000-03-01 03:04:05 (2000 is a leap year)
FEB29 = 59 * 86400 + 12 * 3600                    # 2000-02-29 12:00:00
LATER = 850003198                                  # 2026-12-07 23:59:58


def run_oneshot(test, args, image):
    client = Client(args, files={"queue": image}, stdin_data=b"")
    try:
        status, out = client.finish(timeout=60)
        test.assertEqual(status, 0, out)
        with open(os.path.join(client.workdir, "queue.dat"), "rb") as f:
            saved = f.read()
        return unstamped(out), saved
    finally:
        client.close()


class QueueInfo(unittest.TestCase):
    def test_listing_shows_every_state_and_purges_unknown_ones(self):
        image = queue([
            entry(0),
            entry(1, received=FEB, core=0x65, address=0xC0A80102, port=8080, name=b"Gromacs",
                  deadline_known=1, deadline_seconds=86400, deadline=FEB29),
            entry(1, received=FEB29, core=0x7, address=0x7F000001, port=80, name=b"VeryLongCoreNameHere"),
            entry(2, received=FEB, completed=LATER, core=0xA, address=0x0A000001, port=8081, name=b"Tinker"),
            entry(4),
            entry(7, received=FEB),
            entry(3, received=LATER, core=0x65, address=0x01020304, port=8080, name=b"Gromacs",
                  deadline_known=1, deadline=LATER + 86400),
        ], index=2)
        out, saved = run_oneshot(self, ["-queueinfo"], image)
        self.assertIn("Deleting unknown item (7) from queue position #5\n", out)
        expected = (
            "Queue Status:\nPrinting Queue Information\nCURRENT QUEUE: \n"
            "00  EMPTY    \n"
            '01  READY     "   Gromacs" (65) 192.168.1.2:8080  ' + date(FEB) + " | " + date(FEB29, False) + "\n"
            '02 *READY     "VeryLongCoreNameHere" (7) 127.0.0.1:80  ' + date(FEB29) + "\n"
            '03  DONE      "    Tinker" (a) 10.0.0.1:8081  ' + date(FEB) + "->" + date(LATER) + "\n"
            "04  FETCHING \n"
            "05  EMPTY    \n"
            # ACTIVE is never kept: the purge's save made it READY, in memory too
            '06  READY     "   Gromacs" (65) 1.2.3.4:8080  ' + date(LATER) + " | " + date(LATER + 86400, False) + "\n"
            "07  EMPTY    \n08  EMPTY    \n09  EMPTY    \n"
            "\nQuorvane Client Shutdown.\n")
        self.assertEqual(out[out.index("Queue Status:"):], expected)
        self.assertEqual(len(saved), 7016)
        self.assertEqual(slot_state(saved, 5), 0, "the purge saved the emptied slot")

    def test_missing_queue_is_created_empty(self):
        client = Client(["-queueinfo"], files={}, stdin_data=b"")
        try:
            status, out = client.finish(timeout=60)
            self.assertEqual(status, 0)
            self.assertIn("Could not open work queue, generating new queue...\n", unstamped(out))
            with open(os.path.join(client.workdir, "queue.dat"), "rb") as f:
                self.assertEqual(f.read(), struct.pack("<I", 325) + bytes(7012))
            self.assertTrue(os.path.isdir(os.path.join(client.workdir, "work")))
        finally:
            client.close()


class OldVersions(unittest.TestCase):
    def test_version_5_is_the_oldest_layout(self):
        slots = [entry(s % 4, received=FEB + s, core=s + 1) for s in range(10)]
        image = struct.pack("<I", 5) + b"".join(slots) + bytes(4)  # index 5, no version word
        out, saved = run_oneshot(self, ["-queueinfo"], image)
        self.assertIn("Old queue version detected... converting\n", out)
        self.assertEqual(struct.unpack_from("<II", saved), (325, 5))
        for s in range(10):
            kept = s % 4 in (1, 2)
            self.assertEqual(saved[8 + s * ENTRY:8 + (s + 1) * ENTRY], slots[s] if kept else bytes(ENTRY), s)
        self.assertEqual(len(saved), 7016)

    def test_version_250_takes_the_old_address_word_and_port_8080(self):
        old = queue([entry(1, core=1, address=0, port=0, extra36=0x0A0B0C0D),
                     entry(1, core=2, address=0x01010101, port=81, extra36=0x0A0B0C0D)], version=250, index=1)
        out, saved = run_oneshot(self, ["-queueinfo"], old)
        self.assertIn("Queue v2.50 detected... converting\n", out)
        self.assertIn('(1) 10.11.12.13:8080', out)
        self.assertIn('(2) 1.1.1.1:81', out)
        expected = bytearray(old)
        struct.pack_into("<I", expected, 0, 325)
        struct.pack_into("<I", expected, 8 + 172 + 88, 0x0A0B0C0D)
        for s in range(10):  # every slot without a port gets 8080, empty ones too
            if s != 1:
                struct.pack_into("<I", expected, 8 + s * ENTRY + 172 + 92, 8080)
        self.assertEqual(saved, bytes(expected))

    def test_version_310_has_short_entries_without_deadlines(self):
        full = [entry(1, received=FEB, core=3, address=0x7F000001, port=8080, deadline_known=1, deadline=LATER)
                for _ in range(10)]
        old = struct.pack("<II", 310, 4) + b"".join(e[:684] for e in full)
        out, saved = run_oneshot(self, ["-queueinfo"], old)
        self.assertIn("Queue v3.10 detected... converting\n", out)
        self.assertEqual(struct.unpack_from("<II", saved), (325, 4))
        for s in range(10):
            e = saved[8 + s * ENTRY:8 + (s + 1) * ENTRY]
            self.assertEqual(e[:36], full[s][:36])
            self.assertEqual(e[36:40], bytes(4), "deadline known cleared")
            self.assertEqual(e[40:684], full[s][40:684])
            self.assertEqual(e[684:], bytes(16), "deadline zero")
        self.assertNotIn(" | ", out)

    def test_version_400_loads_as_current_and_keeps_its_version(self):
        old = queue([entry(1, core=1), entry(1, core=2)], version=400)
        out, saved = run_oneshot(self, ["-queueinfo"], old)
        self.assertNotIn("converting", out)
        self.assertEqual(saved, old, "listing alone does not rewrite the file")
        out, saved = run_oneshot(self, ["-delete", "1"], old)
        self.assertIn("Deleting work unit #1 from work queue...\n", out)
        self.assertIn("- Failed to delete the requested work unit\n", out)  # no core to remove the files
        self.assertEqual(struct.unpack_from("<I", saved)[0], 400)
        self.assertEqual(slot_state(saved, 1), 0)
        self.assertEqual(slot_state(saved, 0), 1)

    def test_short_file_loads_with_missing_bytes_zero(self):
        old = queue([entry(1, core=1, address=0x7F000001, port=80, name=b"Core")] * 10)[:8 + 2 * ENTRY + 100]
        out, saved = run_oneshot(self, ["-queueinfo"], old)
        self.assertIn('01  READY     "      Core"', out)
        self.assertIn("02  READY     \"          \" (0) 0.0.0.0:0", out)  # state survived, the rest is zero
        self.assertIn("03  EMPTY    \n", out)


if __name__ == "__main__":
    unittest.main()
