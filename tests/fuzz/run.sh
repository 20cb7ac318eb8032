#!/usr/bin/env bash
# Fuzzes each entry point for a bounded time with libFuzzer (clang): tests/fuzz/run.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DQVN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQVN_SANITIZE=ON >/dev/null
cmake --build "$dir" --target config_reader_fuzz path_fuzz http_response_fuzz base64_fuzz key_signature_fuzz \
  work_reply_fuzz bundle_fuzz
for pair in config_reader:config path:path http_response:http_response base64:base64 key_signature:key_signature \
  work_reply:work_reply bundle:bundle; do
  target=${pair%%:*}
  corpus=${pair##*:}
  work=$(mktemp -d)
  cp tests/fuzz/corpus/"$corpus"/* "$work"/
  echo "=== fuzzing $target for ${seconds}s"
  "$dir/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 "$work" 2>&1 | tail -n 3
  rm -rf "$work"
done
