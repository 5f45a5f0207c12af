#!/usr/bin/env bash
# Runs each fuzz target for a bounded time from its seed corpus, in a scratch copy of the
# corpus; a finding is shown and its input kept in the current folder.
# Usage: tests/fuzz/run.sh <fuzz build folder> <seconds per target>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for fuzzer in options_fuzzer run_fuzzer; do
  cp -r "$here/corpus/$fuzzer" "$work/$fuzzer"
  if "$1/tests/fuzz/$fuzzer" -max_total_time="$2" -print_final_stats=1 -artifact_prefix="$PWD/$fuzzer-" \
    "$work/$fuzzer" >"$work/log" 2>&1; then
    echo "$fuzzer: $(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log") executions in $2 s, no finding"
  else
    status=1 && tail -n 60 "$work/log" && echo "$fuzzer: FINDING (input kept as $PWD/$fuzzer-*)"
  fi
done
exit "$status"
