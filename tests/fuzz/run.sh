#!/usr/bin/env bash
# Runs each fuzz target for a bounded time on a scratch copy of its seed corpus; a finding is
# shown and its input kept in the current folder. Usage: tests/fuzz/run.sh <fuzz build> <seconds>
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for fuzzer in options_fuzzer run_fuzzer; do
  cp -r "$(dirname "$0")/corpus/$fuzzer" "$work/$fuzzer"
  "$1/tests/fuzz/$fuzzer" -max_total_time="$2" -print_final_stats=1 -artifact_prefix="$PWD/$fuzzer-" \
    "$work/$fuzzer" >"$work/log" 2>&1 || { tail -n 60 "$work/log"; echo "$fuzzer: FINDING"; exit 1; }
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  echo "$fuzzer: $executions executions in $2 s, no finding"
done
