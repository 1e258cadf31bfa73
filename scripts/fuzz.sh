#!/usr/bin/env bash
# Runs each libFuzzer harness for a bounded time from its seed corpus.
# New inputs go to a scratch folder; the committed seeds stay as they are.
# Usage: fuzz.sh [seconds per harness]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
bin="$root/build/fuzz/tests/fuzz"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for harness in command_line carry_over; do
  mkdir -p "$work/$harness" "$work/crashes"
  echo "fuzz_$harness: ${seconds}s"
  if ! "$bin/fuzz_$harness" -max_total_time="$seconds" -max_len=16384 -rss_limit_mb=2048 \
      -timeout=20 -print_final_stats=1 -artifact_prefix="$work/crashes/" \
      "$work/$harness" "$root/tests/fuzz/corpus/$harness" >"$work/$harness.log" 2>&1; then
    echo "fuzz_$harness FAILED:"
    tail -n 40 "$work/$harness.log"
    mkdir -p "$root/build/fuzz-artifacts" && cp -r "$work/crashes/." "$root/build/fuzz-artifacts/"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$work/$harness.log" || true
  fi
done
exit $status
