#!/usr/bin/env python3
"""Makes RSA key pairs (public exponent 17) and signs 32-byte digests in the client's record formats.
Written with the python standard library alone, independently of the client's C++ code.

  qvn_sign.py keygen --public PUB --private PRIV [--bits 1024] [--valid-from S] [--valid-until S]
                     [--key-id N] [--name NAME] [--seed N]
  qvn_sign.py sign --private PRIV --digest HEX --out SIG [--time S] [--hash-code 5] [--format-code 0xCC]

Times are seconds since 2000-01-01 00:00:00 UTC. The public key record is 48 + bits/8 bytes (176 for 1024
bits); the signature record is 34 + bits/8 bytes. The private key file is JSON and must never be shipped
with a released client.
"""
import argparse
import json
import random
import struct
import sys

EXPONENT = 17


def is_probable_prime(n, rng, rounds=40):
    if n < 2:
        return False
    for p in (2, 3, 5, 7, 11, 13, 17, 19, 23, 29, 31, 37):
        if n % p == 0:
            return n == p
    d, r = n - 1, 0
    while d % 2 == 0:
        d //= 2
        r += 1
    for _ in range(rounds):
        a = rng.randrange(2, n - 1)
        x = pow(a, d, n)
        if x in (1, n - 1):
            continue
        for _ in range(r - 1):
            x = pow(x, 2, n)
            if x == n - 1:
                break
        else:
            return False
    return True


def prime(bits, rng):
    while True:
        candidate = rng.getrandbits(bits) | (1 << (bits - 1)) | (1 << (bits - 2)) | 1
        if (candidate - 1) % EXPONENT != 0 and is_probable_prime(candidate, rng):
            return candidate


def keygen(bits, seed):
    rng = random.Random(seed) if seed is not None else random.SystemRandom()
    while True:
        p, q = prime(bits // 2, rng), prime(bits // 2, rng)
        n = p * q
        if p != q and n.bit_length() == bits:
            phi = (p - 1) * (q - 1)
            return n, pow(EXPONENT, -1, phi), p, q


def public_record(key):
    bits = key["bits"]
    name = key["name"].encode()[:15]
    header = struct.pack(">HHIqQq16s", 5, 0, bits, key["valid_from"], key["key_id"], key["valid_until"], name)
    return header + key["n"].to_bytes(bits // 8, "big")


def signed_value(key, digest, time, hash_code, format_code):
    """s = m^d mod n, where m carries the signed block at its low end."""
    bits = key["bits"]
    width = (bits - 8) // 8
    block = struct.pack(">qBB", time, hash_code, format_code) + digest
    m = int.from_bytes(b"\x01" * (width - len(block)) + block, "big")
    return pow(m, key["d"], key["n"])


def signature_record(key, value, time, hash_code, format_code):
    bits = key["bits"]
    header = struct.pack(">HHIqQqBB", 80, 0, bits, key["valid_from"], key["key_id"], time, hash_code, format_code)
    return header + value.to_bytes(bits // 8, "big")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    k = sub.add_parser("keygen")
    k.add_argument("--public", required=True)
    k.add_argument("--private", required=True)
    k.add_argument("--bits", type=int, default=1024)
    k.add_argument("--valid-from", type=int, default=0)
    k.add_argument("--valid-until", type=int, default=(1 << 63) - 1)
    k.add_argument("--key-id", type=lambda t: int(t, 0), default=1)
    k.add_argument("--name", default="quorvane")
    k.add_argument("--seed", type=int)
    s = sub.add_parser("sign")
    s.add_argument("--private", required=True)
    s.add_argument("--digest", required=True)
    s.add_argument("--out", required=True)
    s.add_argument("--time", type=int, default=0)
    s.add_argument("--hash-code", type=lambda t: int(t, 0), default=5)
    s.add_argument("--format-code", type=lambda t: int(t, 0), default=0xCC)
    args = parser.parse_args()

    if args.command == "keygen":
        if args.bits < 512 or args.bits % 16:
            sys.exit("bits must be at least 512 and a multiple of 16")
        n, d, p, q = keygen(args.bits, args.seed)
        key = {"bits": args.bits, "n": n, "d": d, "p": p, "q": q, "valid_from": args.valid_from,
               "valid_until": args.valid_until, "key_id": args.key_id, "name": args.name}
        with open(args.private, "w") as f:
            json.dump(key, f)
        with open(args.public, "wb") as f:
            f.write(public_record(key))
    else:
        key = json.load(open(args.private))
        digest = bytes.fromhex(args.digest)
        if len(digest) != 32:
            sys.exit("the digest must be 32 bytes")
        value = signed_value(key, digest, args.time, args.hash_code, args.format_code)
        with open(args.out, "wb") as f:
            f.write(signature_record(key, value, args.time, args.hash_code, args.format_code))


if __name__ == "__main__":
    main()
