#!/usr/bin/env bash
# Builds and runs the scaling benchmark, in the native build by default or in the
# configured build folder given first. The build is Debug, like the tests' build: what
# the benchmark shows is how the time grows with devices and list entries, not absolute
# speed. Further arguments go to the benchmark, for example --benchmark_filter=Pass.
# Usage: tests/bench/run.sh [build folder] [benchmark arguments...]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/native
if [ $# -gt 0 ] && [ -d "$1" ]; then
  build=$1
  shift
else
  cmake --preset native >/dev/null
fi
cmake --build "$build" --target scaling_benchmark -j "${QNETPREP_JOBS:-2}"
exec "$build/tests/bench/scaling_benchmark" --benchmark_min_time=0.2 "$@"
