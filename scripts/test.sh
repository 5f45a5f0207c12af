#!/usr/bin/env bash
# Installs what is missing, builds every variant and runs every test: the unit and
# scenario tests on the simulated machine (plain and with sanitizers) and the
# end-to-end tests of the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
for preset in windows windows-x86 native native-sanitize; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
ctest --preset native -j "$jobs" || status=1
ctest --preset native-sanitize -j "$jobs" || status=1
exit "$status"
