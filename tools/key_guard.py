#!/usr/bin/env python3
"""Tells whether a public key record's private half lies anywhere in a tree: compares the record's modulus
with that of every *.private.json below the root (whatever its name or place), and prints the path of each
private key that matches, one a line. Exit 0 when it could read the record, 2 otherwise. Python standard
library only; run by the build's configure step.

  key_guard.py PUBLIC_KEY_RECORD ROOT
"""
import json
import os
import sys

HEADER = 48  # the record's header; the modulus follows, big-endian


def modulus(record):
    return int.from_bytes(record[HEADER:], "big")


def private_halves(root):
    for directory, subdirectories, files in os.walk(root):
        subdirectories[:] = [d for d in subdirectories if d != ".git"]
        for name in files:
            if name.endswith(".private.json"):
                yield os.path.join(directory, name)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    try:
        with open(sys.argv[1], "rb") as f:
            record = f.read()
    except OSError as error:
        print("key_guard: %s" % error, file=sys.stderr)
        return 2
    if len(record) <= HEADER:
        print("key_guard: %s is no key record" % sys.argv[1], file=sys.stderr)
        return 2
    wanted = modulus(record)
    for path in private_halves(sys.argv[2]):
        try:
            with open(path, encoding="utf-8") as f:
                n = int(json.load(f)["n"])
        except (OSError, ValueError, KeyError, TypeError) as error:
            print("key_guard: %s is not a readable private key (%s); not compared" % (path, error), file=sys.stderr)
            continue
        if n == wanted:
            print(path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
