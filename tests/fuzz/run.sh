#!/usr/bin/env bash
# Fuzzes each entry point for a bounded time with libFuzzer (clang) and prints, per entry point, the runs made
# and the crashes found (their inputs are kept under build-fuzz/crashes/). Usage: tests/fuzz/run.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-20}
dir=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DQVN_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQVN_SANITIZE=ON >/dev/null
cmake --build "$dir" --target config_reader_fuzz path_fuzz http_response_fuzz base64_fuzz key_signature_fuzz \
  work_reply_fuzz bundle_fuzz signing_record_fuzz
summary=""
for pair in config_reader:config path:path http_response:http_response base64:base64 key_signature:key_signature \
  work_reply:work_reply bundle:bundle signing_record:signing_record; do
  target=${pair%%:*}
  corpus=${pair##*:}
  work=$(mktemp -d)
  crashes="$dir/crashes/$target"
  mkdir -p "$crashes"
  cp tests/fuzz/corpus/"$corpus"/* "$work"/
  echo "=== fuzzing $target for ${seconds}s"
  "$dir/tests/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$work" > "$work.log" 2>&1 || true
  tail -n 3 "$work.log"
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work.log" | grep -o '[0-9]*$' || echo 0)
  found=$(find "$crashes" -type f | wc -l)
  summary="$summary
fuzz $target: ${runs:-0} runs in ${seconds}s, $found crashes"
  rm -rf "$work" "$work.log"
done
echo "$summary"
