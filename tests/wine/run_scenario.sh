#!/usr/bin/env bash
# Runs one end-to-end scenario of scenarios.sh on a fresh Wine machine:
#
#   tests/wine/run_scenario.sh <scenario>
#
# Environment: QNETPREP_WINDOWS_BUILD_DIR (default build/windows), QNETPREP_WINE_TEMPLATE
# (a booted prefix to copy; without it the scenario boots its own), WINE, WINESERVER,
# WINEBOOT. Exit code 0 when the scenario passes.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
export QNETPREP_SOURCE_DIR=${QNETPREP_SOURCE_DIR:-$(cd "$here/../.." && pwd)}
export QNETPREP_WINDOWS_BUILD_DIR=${QNETPREP_WINDOWS_BUILD_DIR:-$QNETPREP_SOURCE_DIR/build/windows}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# shellcheck source=machine_wine.sh
source "$here/machine_wine.sh"
# shellcheck source=state.sh
source "$here/state.sh"
# shellcheck source=scenarios.sh
source "$here/scenarios.sh"

[ $# -eq 1 ] || fail "usage: run_scenario.sh <scenario>"
declare -F "scenario_$1" >/dev/null || fail "no scenario $1"
trap machine_close EXIT
machine_open
"scenario_$1"
echo "PASS: $1"
