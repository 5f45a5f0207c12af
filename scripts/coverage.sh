#!/usr/bin/env bash
# Line and branch coverage of the installer's logic by the native suite (everything but the
# Wine tests), in a build folder of its own: build/coverage, or the folder given. Fails when a
# function of the simulated machine is never run: the simulation holds only what the logic
# and the tests use, so an unrun function is either dead or untested.
# Usage: scripts/coverage.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/coverage}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQNETPREP_WINE_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -fno-inline" -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "${QNETPREP_JOBS:-2}"
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -LE wine -j "${QNETPREP_JOBS:-2}" --output-on-failure
# The logic: what the program decides, as opposed to the platform it runs on.
logic=(--filter 'app/' --filter 'devices/' --filter 'install/' --filter 'cleanup/' --filter 'package/' --filter 'records/'
  --filter 'platform/text\.cpp')
gcovr -r . "$build" "${logic[@]}" --exclude-throw-branches --exclude-unreachable-branches
gcovr -r . "$build" "${logic[@]}" --exclude-throw-branches --exclude-unreachable-branches --branches

# Templates in headers are left out: gcov counts each instantiation of each translation unit apart.
gcovr -r . "$build" --filter 'platform/sim/.*\.cpp' --json "$build/sim-coverage.json" >/dev/null
python3 - "$build/sim-coverage.json" <<'PY'
import json, sys
unrun = [f"{entry['file']}:{function['lineno']}: {function['name']}"
         for entry in json.load(open(sys.argv[1]))['files'] for function in entry.get('functions', [])
         if function['execution_count'] == 0]
print(f"simulated functions that nothing runs: {len(unrun)}")
for line in unrun:
    print("  " + line)
sys.exit(1 if unrun else 0)
PY
