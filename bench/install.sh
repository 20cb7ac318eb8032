#!/usr/bin/env bash
# Installs a 64 MiB core (partly compressible, as executables are) from a signed bundle on disk with the
# client's UnzipCore, and decompresses the same payload with `bzip2 -d` to a file, alternately; prints each
# median and last "ratio X" (install time over bzip2 -d time). Goal: X <= 1.10.
# The bundle is signed with the test key, so the benchmark builds its own tree that trusts it.
# Usage: bench/install.sh [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$here/..
runs=${1:-5}
build=$root/build-bench-install
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DQVN_CORE_KEY_FILE="$root/tests/runtime/fixtures/test_key.pub" -DQVN_ALLOW_TEST_KEY=ON >/dev/null 2>&1
cmake --build "$build" --target bench_install >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 - "$root" "$work" <<'PY'
import json, os, random, sys
sys.path.insert(0, os.path.join(sys.argv[1], "tools"))
import make_bundle
rng = random.Random(65)
words = [bytes(rng.getrandbits(8) for _ in range(rng.randrange(4, 24))) for _ in range(4096)]
core = bytearray()
while len(core) < 64 << 20:  # machine-code-like: recurring sequences mixed with noise
    core += rng.choice(words) if rng.random() < 0.7 else rng.randbytes(rng.randrange(1, 16))
core = bytes(core[:64 << 20])
key = json.load(open(os.path.join(sys.argv[1], "tests", "runtime", "fixtures", "test_key.private.json")))
image = make_bundle.bundle(key, core)
open(os.path.join(sys.argv[2], "Core_65.qvn"), "wb").write(image)
length = int.from_bytes(image[16:24], "big")
open(os.path.join(sys.argv[2], "payload.bz2"), "wb").write(image[512:512 + length])
PY
python3 - "$build/bench/bench_install" "$work" "$runs" <<'PY'
import statistics, subprocess, sys, time
tool, work, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
ours, theirs = [], []
for _ in range(runs):
    out = subprocess.run([tool, work + "/Core_65.qvn", work + "/QvnCore_65.exe"], capture_output=True, text=True,
                         cwd=work)  # its record of signing times stays with the cores
    if out.returncode != 0:
        sys.exit("installation failed")
    ours.append(float(out.stdout.split()[-1]))
    start = time.perf_counter()
    with open(work + "/bzip2.out", "wb") as sink:
        subprocess.run(["bzip2", "-d", "-c", work + "/payload.bz2"], stdout=sink, check=True)
    theirs.append(time.perf_counter() - start)
a, b = statistics.median(ours), statistics.median(theirs)
print("install median %.3f s, bzip2 -d median %.3f s" % (a, b))
print("ratio %.2f" % (a / b))
PY
