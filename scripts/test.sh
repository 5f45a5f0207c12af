#!/usr/bin/env bash
# Installs what is missing, builds every variant and runs every test: the unit,
# scenario and reliability tests on the simulated machine (plain, then again with
# AddressSanitizer and UndefinedBehaviorSanitizer: everything but the Wine tests), the
# end-to-end tests of the Windows build under Wine, and a short bounded run of each
# fuzz target (longer runs by hand: tests/fuzz/run.sh build/fuzz 600).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
for preset in windows windows-x86 native native-sanitize fuzz; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
ctest --preset native -j "$jobs" || status=1
ctest --preset native-sanitize -j "$jobs" || status=1
tests/fuzz/run.sh build/fuzz 20 || status=1
exit "$status"
