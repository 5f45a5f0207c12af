#!/usr/bin/env bash
# The main job on the built-in default machine: builds the Linux program, runs it from
# the sample package folder with the given options (none: a default install) and shows
# what it changed. The machine is ~/.qnetprep-machine unless QNETPREP_MACHINE names
# another folder; it is created, like a new Windows, on first use.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native -j "$(nproc)" --target qnetprep

machine=${QNETPREP_MACHINE:-$HOME/.qnetprep-machine}
package="$machine/drive_c/qnetprep-package"
mkdir -p "$package"
cp "$top"/sample/package/* "$package/"

echo "Running: qnetprep $* (current folder C:\\qnetprep-package on $machine)"
status=0
(cd "$package" && QNETPREP_MACHINE="$machine" "$top/build/native/qnetprep" "$@") || status=$?
echo
echo "Exit code: $status"
echo
echo "== INF store (C:\\Windows\\INF)"
ls -l "$machine/drive_c/Windows/INF"
echo
echo "== Install folder (C:\\Program Files\\Orvix\\qnetprep)"
ls "$machine/drive_c/Program Files/Orvix/qnetprep" 2>/dev/null || echo "(none)"
echo
echo "== Registry keys of the product"
awk '/^\[/{show = ($0 ~ /\\Orvix/ || $0 ~ /Uninstall\\qnetprep/)} show' "$machine/registry.reg"
