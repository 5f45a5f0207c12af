#!/usr/bin/env bash
# Runs one end-to-end scenario of scenarios.sh on a fresh machine, a Wine one by default:
#
#   tests/wine/run_scenario.sh [--machine wine|sim] <scenario>
#
# Environment: QNETPREP_WINDOWS_BUILD_DIR (default build/windows), QNETPREP_WINE_TEMPLATE
# (a booted prefix to copy; without it the scenario boots its own), WINE, WINESERVER,
# WINEBOOT; for the simulated machine see machine_sim.sh. With QNETPREP_TRANSCRIPT set,
# every run of qnetprep (its exit code and output) and every state the scenario compares
# is also written to that file, so that two machines can be compared
# (compare_scenario.sh). Exit code 0 when the scenario passes.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
export QNETPREP_SOURCE_DIR=${QNETPREP_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
export QNETPREP_WINDOWS_BUILD_DIR=${QNETPREP_WINDOWS_BUILD_DIR:-$QNETPREP_SOURCE_DIR/build/windows}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

machine=wine
if [ "${1:-}" = --machine ]; then
  machine=${2:-}
  shift 2 || fail "usage: run_scenario.sh [--machine wine|sim] <scenario>"
fi
case $machine in
  wine | sim) ;;
  *) fail "no machine $machine (wine or sim)" ;;
esac

# shellcheck source=machine_wine.sh
source "$here/machine_$machine.sh"
# shellcheck source=state.sh
source "$here/state.sh"
# shellcheck source=scenarios.sh
source "$here/scenarios.sh"

if [ -n "${QNETPREP_TRANSCRIPT:-}" ]; then
  : >"$QNETPREP_TRANSCRIPT"
  eval "machine_$(declare -f run_qnetprep)"
  run_qnetprep() {
    machine_run_qnetprep "$@"
    printf '== run in %s: %s\nexit %s\nstdout [%s]\n' "$1" "${*:2}" "$RUN_EXIT" "$RUN_STDOUT" >>"$QNETPREP_TRANSCRIPT"
  }
  eval "machine_$(declare -f machine_state)"
  machine_state() {
    echo "== state" >>"$QNETPREP_TRANSCRIPT"
    machine_machine_state "$@" | tee -a "$QNETPREP_TRANSCRIPT"
  }
fi

[ $# -eq 1 ] || fail "usage: run_scenario.sh [--machine wine|sim] <scenario>"
declare -F "scenario_$1" >/dev/null || fail "no scenario $1"
trap machine_close EXIT
machine_open
"scenario_$1"
echo "PASS: $1 ($machine)"
