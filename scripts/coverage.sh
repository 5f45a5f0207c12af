#!/usr/bin/env bash
# Line and branch coverage of the installer's logic by the native suite (everything but the
# Wine tests), in a build folder of its own: build/coverage, or the folder given. Fails when a
# function of the simulated machine, or a call of its table (platform/sim/calls.h), is never
# run: the simulation holds only what the logic and the tests use, so an unrun one is either
# dead or untested; and when a branch of the simulated machine is never taken, unless its line
# says why the installer cannot reach it (GCOVR_EXCL_BR_LINE, or a GCOVR_EXCL_BR_START/STOP region).
# Usage: scripts/coverage.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/coverage}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQNETPREP_WINE_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -fno-inline" -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "${QNETPREP_JOBS:-2}"
# The notes of a source renamed or removed since the folder was built would count as code
# that nothing runs: they go, with their objects.
find "$build" -path '*/CMakeFiles/*.dir/*' -name '*.gcno' | while read -r notes; do
  relative=${notes#"$build"/}
  source=${relative%%CMakeFiles/*}${relative#*CMakeFiles/*.dir/}
  [ -e "${source%.gcno}" ] || rm -f "$notes" "${notes%.gcno}.o"
done
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -LE wine -j "${QNETPREP_JOBS:-2}" --output-on-failure
# The logic: what the program decides, as opposed to the platform it runs on.
logic=(--filter 'app/' --filter 'devices/' --filter 'install/' --filter 'cleanup/' --filter 'package/'
  --filter 'records/' --filter 'platform/text\.cpp')
gcovr -r . "$build" "${logic[@]}" --exclude-throw-branches --exclude-unreachable-branches
gcovr -r . "$build" "${logic[@]}" --exclude-throw-branches --exclude-unreachable-branches --branches

# A static's guard has a branch for a second thread that waits on its construction: the
# simulated machine has one thread.
sim_branches=0
gcovr -r . "$build" --filter 'platform/sim/' --exclude-throw-branches --exclude-unreachable-branches \
  --exclude-branches-by-pattern '^\s*static\s' --branches --fail-under-branch 100 || sim_branches=$?

# Templates in headers are left out: gcov counts each instantiation of each translation unit apart.
gcovr -r . "$build" --filter 'platform/sim/.*\.cpp' --json "$build/sim-coverage.json" >/dev/null
python3 - "$build/sim-coverage.json" platform/sim/calls.h <<'PY'
import json, re, sys
functions = [(entry['file'], function) for entry in json.load(open(sys.argv[1]))['files']
             for function in entry.get('functions', [])]
unrun = [f"{file}:{function['lineno']}: {function['name']}" for file, function in functions
         if function['execution_count'] == 0]
print(f"simulated functions that nothing runs: {len(unrun)}")
for line in unrun:
    print("  " + line)
# A row of the table is run when the call it names is: the function of that name, whatever its arguments.
runs = {function['name'].split('(')[0]: function['execution_count'] for _, function in functions}
rows = re.findall(r'^\s*\{"(\w+)",', open(sys.argv[2]).read(), re.M)
unrun_rows = [name for name in rows if runs.get(name, 0) == 0]
print(f"calls of the table that nothing runs: {len(unrun_rows)} of {len(rows)}")
for name in unrun_rows:
    print("  " + name)
sys.exit(1 if unrun or unrun_rows or not rows else 0)
PY
if [ "$sim_branches" -ne 0 ]; then
  echo "branches of the simulated machine that nothing takes: see above"
  exit 1
fi
