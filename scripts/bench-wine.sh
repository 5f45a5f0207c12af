#!/usr/bin/env bash
# Times qnetprep.exe under Wine: the median wall time of a recorded default run ("/au")
# beside the median of a program that does nothing, measured in the same prefix with the
# same warm wineserver, alternating, and their ratio.
#
#   scripts/bench-wine.sh [runs]          (default 15 runs of each)
#
# Needs the Windows build (cmake --preset windows && cmake --build build/windows), or
# QNETPREP_WINDOWS_BUILD_DIR naming another one. A benchmark, not a test: it prints
# numbers and judges nothing.
set -euo pipefail

runs=${1:-15}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QNETPREP_WINDOWS_BUILD_DIR:-$root/build/windows}
program=$build/qnetprep.exe
nothing=$build/tests/windows/qnetprep_nothing.exe
for file in "$program" "$nothing"; do
  [ -f "$file" ] || {
    echo "missing $file: build the windows preset first" >&2
    exit 1
  }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/qnetprep-bench.XXXXXX")
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "booting a prefix in $WINEPREFIX ..."
wineboot -i >"$work/wineboot.log" 2>&1
package=$WINEPREFIX/drive_c/pkg
mkdir -p "$package"
cp "$root"/sample/package/* "$package/"
cp "$program" "$package/qnetprep.exe"
cp "$nothing" "$package/nothing.exe"

# A server that stays up between runs, with the services that the first runs start
# (after the one that wineboot left has ended).
wineserver -w
wineserver -p
cd "$package"
run_once() {  # prints the wall time of one run in nanoseconds
  local start end
  start=$(date +%s%N)
  wine "$@" >"$work/stdout.txt" 2>&1 || true
  end=$(date +%s%N)
  echo $((end - start))
}
for _ in 1 2; do
  run_once 'C:\pkg\qnetprep.exe' /au >/dev/null
  run_once 'C:\pkg\nothing.exe' >/dev/null
done

: >"$work/qnetprep.ns"
: >"$work/nothing.ns"
for ((i = 0; i < runs; i++)); do
  run_once 'C:\pkg\qnetprep.exe' /au >>"$work/qnetprep.ns"
  run_once 'C:\pkg\nothing.exe' >>"$work/nothing.ns"
done

median_ns() {
  sort -n "$1" | awk '{ v[NR] = $1 }
    END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}
program_ns=$(median_ns "$work/qnetprep.ns")
nothing_ns=$(median_ns "$work/nothing.ns")
awk -v p="$program_ns" -v n="$nothing_ns" -v runs="$runs" 'BEGIN {
  printf "runs of each, alternating, warm wineserver: %d\n", runs
  printf "qnetprep.exe /au (recorded default run): median %.1f ms\n", p / 1e6
  printf "do-nothing exe:                          median %.1f ms\n", n / 1e6
  printf "ratio:                                   %.2f\n", p / n
}'
