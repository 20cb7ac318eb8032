#!/usr/bin/env python3
"""Fails when a source file includes a header of a folder above its own.

The folders form one order, each using only those below it:
    runtime < base < state < net < cores < client
A test under tests/<folder>/ may include its own folder, the folders below it and tests/support/.
Usage: check_layers.py [source root]   (default: the repository this script lives in)
"""
import pathlib
import re
import sys

LAYERS = ["runtime", "base", "state", "net", "cores", "client"]
RANK = {name: i for i, name in enumerate(LAYERS)}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]*"', re.MULTILINE)


def own_rank(relative):
    parts = relative.parts
    if parts[0] in RANK:
        return RANK[parts[0]]
    if parts[0] == "tests" and len(parts) > 2 and parts[1] in RANK:
        return RANK[parts[1]]
    return None  # tools, bench, fuzz entries and test support may use every layer


def violations(root):
    found = []
    for path in sorted(root.rglob("*")):
        if path.suffix not in (".h", ".cpp") or not path.is_file():
            continue
        relative = path.relative_to(root)
        if relative.parts[0].startswith(("build", ".")):
            continue
        rank = own_rank(relative)
        if rank is None:
            continue
        for folder in INCLUDE.findall(path.read_text(errors="replace")):
            if folder in RANK and RANK[folder] > rank:
                found.append(f"{relative}: includes {folder}/, a layer above {LAYERS[rank]}/")
    return found


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = violations(root)
    for line in found:
        print(line)
    if found:
        print(f"{len(found)} upward include(s); the layer order is {' < '.join(LAYERS)}")
        return 1
    print("layers: every include looks down (" + " < ".join(LAYERS) + ")")
    return 0


if __name__ == "__main__":
    sys.exit(main())
