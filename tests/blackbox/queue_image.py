"""Builds queue.dat images byte by byte, independently of the client's own layout code."""
import datetime
import struct

EPOCH = datetime.datetime(2000, 1, 1)
MONTHS = ["January", "Feburary", "March", "April", "May", "June", "July", "August", "September",
          "October", "November", "December"]
ENTRY = 700


def entry(state, received=0, completed=0, deadline_known=0, finished=0, location=b"", option=0,
          core=0, address=0, port=0, name=b"", deadline_seconds=0, deadline=0, extra36=None):
    """One 700-byte entry; times are whole seconds since 2000-01-01 (fraction 0)."""
    e = bytearray(ENTRY)
    struct.pack_into("<I", e, 0, state)
    struct.pack_into("<qQ", e, 4, received, 0)
    struct.pack_into("<qQ", e, 20, completed, 0)
    struct.pack_into("<I", e, 36, deadline_known if extra36 is None else extra36)
    struct.pack_into("<I", e, 40, finished)
    e[44:44 + len(location)] = location
    e[171] = option
    struct.pack_into("<I", e, 172 + 0, 500)
    struct.pack_into("<I", e, 172 + 4, core)
    struct.pack_into("<I", e, 172 + 88, address)
    struct.pack_into("<I", e, 172 + 92, port)
    e[172 + 96:172 + 96 + len(name)] = name
    struct.pack_into("<i", e, 172 + 320, deadline_seconds)
    struct.pack_into("<qQ", e, 684, deadline, 0)
    return bytes(e)


def queue(entries, version=325, index=0, fraction=0.0, samples=0):
    entries = list(entries) + [entry(0)] * (10 - len(entries))
    return struct.pack("<II", version, index) + b"".join(entries) + struct.pack("<fI", fraction, samples)


def date(seconds, with_seconds=True):
    d = EPOCH + datetime.timedelta(seconds=seconds)
    text = "%s %u %02u:%02u" % (MONTHS[d.month - 1], d.day, d.hour, d.minute)
    return text + (":%02u" % d.second if with_seconds else "")


def slot_state(image, slot):
    return struct.unpack_from("<I", image, 8 + slot * ENTRY)[0]
