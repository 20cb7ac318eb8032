#!/usr/bin/env bash
# Times MD5SHA1 over a 64 MiB file against md5sum plus sha1sum on the same file, alternately in one run;
# checks the digests agree, prints the medians and last "ratio X" (ours over their sum). Goal: X <= 1.0.
# Usage: bench/digest.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-5}
cmake --build "$build" --target bench_digest >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/body.bin"
python3 - "$build/bench/bench_digest" "$work/body.bin" "$runs" <<'PY'
import statistics, subprocess, sys, time
tool, path, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
ours, theirs = [], []
for _ in range(runs):
    seconds, digest = subprocess.run([tool, path], capture_output=True, text=True, check=True).stdout.split()
    ours.append(float(seconds))
    start = time.perf_counter()
    md5 = subprocess.run(["md5sum", path], capture_output=True, text=True, check=True).stdout.split()[0]
    sha1 = subprocess.run(["sha1sum", path], capture_output=True, text=True, check=True).stdout.split()[0]
    theirs.append(time.perf_counter() - start)
    if digest != md5 + sha1[:32]:
        sys.exit("digest mismatch: %s vs %s" % (digest, md5 + sha1[:32]))
a, b = statistics.median(ours), statistics.median(theirs)
print("MD5SHA1 median %.3f s, md5sum+sha1sum median %.3f s" % (a, b))
print("ratio %.2f" % (a / b))
PY
