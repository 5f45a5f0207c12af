#!/usr/bin/env bash
# Runs one end-to-end scenario on a Wine machine and on a simulated machine and compares
# what the two showed: every run's exit code and standard output, and every machine state
# the scenario compared (records, files, devices and services, stored INF names masked by
# state.sh). Both runs must pass and their transcripts must agree once the differences
# below, which are Wine's and not the installer's, are masked.
#
#   tests/wine/compare_scenario.sh <scenario>
#
# Environment: as run_scenario.sh for both machines.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
scenario=${1:?usage: compare_scenario.sh <scenario>}
work=$(mktemp -d "${TMPDIR:-/tmp}/qnetprep-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The one place where the two machines may differ:
# - Folder spellings. Wine's Windows folder is "C:\windows" in lower case (so
#   GetSystemDirectoryA gives "C:\windows\system32" and the INF store is
#   "C:\windows\inf"); Windows, and the simulated machine, spell them "C:\Windows\System32"
#   and "C:\Windows\INF". Windows compares file names without regard to case, and the
#   installer only ever uses the folder that the system hands it.
# - Stored INF names (Wine keeps the INF's own name, Windows makes oemN.inf) and the
#   PNF format are masked in each machine's state already (state.sh).
# - SP_COPY_OEMINF_CATALOG_ONLY: Wine stores the INF at the first of an install's two
#   calls, the simulated machine, like Windows, only at the second. Each install makes
#   both calls before anything is looked at, so no transcript can show it.
# - Catalogs: Wine and Windows install the catalog that an INF names in their catalog
#   database (Wine under its own name, Windows as oemN.cat); the installer never reads or
#   removes it, and the scenarios do not look at it.
mask_platform_differences() {
  sed -e 's/C:\\\\*windows\\\\*system32/{system folder}/Ig' -e 's/C:\\\\*windows\\\\*inf/{INF store}/Ig' "$1"
}

status=0
for machine in wine sim; do
  if ! QNETPREP_TRANSCRIPT=$work/$machine.txt "$here/run_scenario.sh" --machine "$machine" "$scenario" \
    >"$work/$machine.log" 2>&1; then
    echo "FAIL: the scenario fails on the $machine machine:" >&2
    cat "$work/$machine.log" >&2
    status=1
  fi
  mask_platform_differences "$work/$machine.txt" >"$work/$machine.masked"
done

if ! diff -u --label "wine: $scenario" --label "sim: $scenario" "$work/wine.masked" "$work/sim.masked" >&2; then
  echo "FAIL: $scenario shows differently under Wine and on the simulated machine" >&2
  status=1
fi
[ "$status" -ne 0 ] || echo "PASS: $scenario agrees under Wine and on the simulated machine"
exit "$status"
