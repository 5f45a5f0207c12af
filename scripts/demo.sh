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
# As on Windows, the program runs from a copy in the package folder; a recorded install
# copies it from there into the system folder for the uninstall command to find.
cp "$top/build/native/qnetprep" "$package/qnetprep.exe"

echo "Running: qnetprep $* (current folder C:\\qnetprep-package on $machine)"
status=0
(cd "$package" && QNETPREP_MACHINE="$machine" ./qnetprep.exe "$@") || status=$?
echo
echo "Exit code: $status"
echo
echo "What the machine shows now (value data byte for byte, +NUL*n for trailing NULs):"
python3 "$top/scripts/machine_state.py" "$machine"
