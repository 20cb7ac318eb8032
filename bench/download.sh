#!/usr/bin/env bash
# Downloads a 64 MiB body over loopback with the client's HTTPDownloadFile and with curl, alternately, from
# the same local server; prints each median and last "ratio X" (client time over curl time). Goal: X <= 1.5.
# Usage: bench/download.sh [BUILD_DIR] [RUNS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
runs=${2:-5}
cmake --build "$build" --target bench_download >/dev/null
work=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$work"' EXIT
head -c $((64 * 1024 * 1024)) /dev/urandom > "$work/body.bin"
coproc SERVE { exec python3 "$here/serve.py" "$work" 600; }
server=$SERVE_PID
read -r port <&"${SERVE[0]}"
python3 - "$build/bench/bench_download" "$port" "$work" "$runs" <<'PY'
import statistics, subprocess, sys, time, filecmp
client, port, work, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
ours, theirs = [], []
for _ in range(runs):
    out = subprocess.run([client, "127.0.0.1:" + port, "/body.bin", work + "/ours.bin"], capture_output=True, text=True)
    if out.returncode != 0 or not filecmp.cmp(work + "/body.bin", work + "/ours.bin", shallow=False):
        sys.exit("client download failed")
    ours.append(float(out.stdout.split()[-1]))
    start = time.perf_counter()
    subprocess.run(["curl", "-s", "-o", work + "/curl.bin", "http://127.0.0.1:%s/body.bin" % port], check=True)
    theirs.append(time.perf_counter() - start)
a, b = statistics.median(ours), statistics.median(theirs)
print("client median %.3f s, curl median %.3f s" % (a, b))
print("ratio %.2f" % (a / b))
PY
