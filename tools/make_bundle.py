#!/usr/bin/env python3
"""Packs a core into a signed bundle, or into one of the forgeries the tests refuse. Python standard library
only (bz2, hashlib, struct), beside the signing tool and independent of the client's code.

  make_bundle.py --private KEY.json --core EXECUTABLE --out BUNDLE [--time S] [--forge KIND] [--other KEY.json]

The bundle: a 512-byte header (magic DE AF 0F AD at 0, payload length L at 16, signature length S at 24, all
big-endian), the core compressed as one bzip2 stream (L bytes), then the signature record over the payload's
MD5SHA1 digest (MD5's 16 bytes, then the first 16 of SHA-1's), hash code 5, format code 0xCC.
Forgeries: magic, payload-byte, signature-byte, other-key (with --other), time-before-key, hash-code,
format-code, record-header, length-beyond-file, signature-absurd, truncate=N (negative: N bytes off the end),
incomplete-stream, completed-after-signature, not-bzip2, time-after-key, empty-payload (L = 0); and
extra-after-signature, which is no forgery (bytes after the signature are not examined); bomb=MIB, a validly
signed payload of a few hundred bytes that expands to MIB mebibytes of zeros.
"""
import argparse
import bz2
import hashlib
import json
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import qvn_sign  # noqa: E402

MAGIC = 0xDEAF0FAD


def digest(payload):
    return hashlib.md5(payload).digest() + hashlib.sha1(payload).digest()[:16]


def signature(key, payload, time, hash_code=5, format_code=0xCC):
    value = qvn_sign.signed_value(key, digest(payload), time, hash_code, format_code)
    return qvn_sign.signature_record(key, value, time, hash_code, format_code)


def zeros_compressed(size):
    """A bzip2 stream of size zero bytes, made a mebibyte at a time: a few hundred bytes for hundreds of MiB."""
    packer = bz2.BZ2Compressor(9)
    piece = bytes(1 << 20)
    out = b"".join(packer.compress(piece) for _ in range(size >> 20))
    return out + packer.flush()


def header(payload_length, signature_length, magic=MAGIC):
    h = bytearray(512)
    struct.pack_into(">I", h, 0, magic)
    h[4:16] = b"Quorvane core"[:12]
    struct.pack_into(">QQ", h, 16, payload_length, signature_length)
    return bytes(h)


def bundle(key, core, time=None, forge=None, other=None):
    """The bundle's bytes, signed with key (a dict of qvn_sign's private key file), or the forgery named."""
    time = key["valid_from"] + 86400 if time is None else time
    if forge and forge.startswith("bomb="):
        payload = zeros_compressed(int(forge.split("=", 1)[1]) << 20)
    else:
        payload = bz2.compress(core, 9)
    if forge == "not-bzip2":
        payload = b"this is not a bzip2 stream at all" * 4
    elif forge == "empty-payload":
        payload = b""
    tail = b""
    if forge == "extra-after-signature":
        tail = b"bytes after the signature that nobody signed" * 3
    if forge in ("incomplete-stream", "completed-after-signature"):
        payload, tail = payload[:len(payload) // 2], payload[len(payload) // 2:]
        if forge == "incomplete-stream":
            tail = b""
    sig = signature(key, payload, time)
    if forge == "other-key":
        sig = signature(other, payload, time)
    elif forge == "time-before-key":
        sig = signature(key, payload, key["valid_from"] - 1)
    elif forge == "time-after-key":
        sig = signature(key, payload, key["valid_until"] + 1)
    elif forge == "hash-code":
        sig = signature(key, payload, time, hash_code=6)
    elif forge == "format-code":
        sig = signature(key, payload, time, format_code=0x33)
    elif forge == "record-header":
        sig = struct.pack(">H", 81) + sig[2:]
    elif forge == "signature-byte":
        sig = sig[:-5] + bytes([sig[-5] ^ 0x40]) + sig[-4:]
    if forge == "payload-byte":
        payload = payload[:40] + bytes([payload[40] ^ 1]) + payload[41:]
    magic = 0xFADEAFDE if forge == "magic" else MAGIC
    length = len(payload) + (1 << 20 if forge == "length-beyond-file" else 0)
    sig_length = (1 << 40) if forge == "signature-absurd" else len(sig)
    image = header(length, sig_length, magic) + payload + sig + tail
    if forge and forge.startswith("truncate="):
        image = image[:int(forge.split("=", 1)[1])]
    return image


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--private", required=True)
    parser.add_argument("--core", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--time", type=int)
    parser.add_argument("--forge")
    parser.add_argument("--other")
    args = parser.parse_args()
    with open(args.private) as f:
        key = json.load(f)
    other = None
    if args.other:
        with open(args.other) as f:
            other = json.load(f)
    with open(args.core, "rb") as f:
        core = f.read()
    image = bundle(key, core, args.time, args.forge, other)
    with open(args.out, "wb") as f:
        f.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
