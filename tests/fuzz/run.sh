#!/usr/bin/env bash
# Runs each fuzz target for a bounded time, starting from the seed corpus, in a scratch
# corpus that is thrown away, and reports the executions. On a finding it shows the
# report and keeps the input that caused it in the current folder.
# Usage: tests/fuzz/run.sh <fuzz build folder> <seconds per target>
set -euo pipefail
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for fuzzer in options_fuzzer run_fuzzer; do
  corpus="$work/$fuzzer"
  mkdir -p "$corpus"
  cp "$here/corpus/$fuzzer"/* "$corpus"/
  log="$work/$fuzzer.log"
  if "$build/tests/fuzz/$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$PWD/$fuzzer-" \
    "$corpus" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$fuzzer: $runs executions in ${seconds} s, no finding"
  else
    status=1
    tail -n 60 "$log"
    echo "$fuzzer: FINDING (input kept as $PWD/$fuzzer-*)"
  fi
done
exit "$status"
