#!/usr/bin/env bash
# Checks what qnetprep.exe carries onto a bare Windows machine:
#
#   tests/wine/footprint.sh <exe> <objdump> <expected format> [<exe> <objdump> <format>]...
#
# for each exe: the expected machine ("pei-x86-64", "pei-i386"), the Windows GUI
# subsystem, imports from system DLLs only (no MinGW runtime DLL), stripped symbols, a
# size under 64 KiB (reported), and a version resource that Windows reads as 0.0.3.7
# (read under Wine with GetFileVersionInfoA, in a fresh prefix).
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

# DLLs that every Windows of the NT family has; the program may import from these only.
SYSTEM_DLLS='^(kernel32|user32|advapi32|setupapi|shlwapi|msvcrt)\.dll$'
SIZE_LIMIT=65536

check_binary() {  # exe objdump format
  local exe=$1 objdump=$2 format=$3
  [ -f "$exe" ] || fail "missing $exe"
  "$objdump" -f "$exe" | grep -q "file format $format" || fail "$exe is not $format"
  local headers
  headers=$("$objdump" -p "$exe")
  grep -q 'Subsystem.*(Windows GUI)' <<<"$headers" || fail "$exe is not a Windows GUI program"
  local dll
  while read -r dll; do
    grep -qiE "$SYSTEM_DLLS" <<<"$dll" || fail "$exe imports $dll, which a bare Windows does not have"
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
  "$objdump" -t "$exe" | grep -q 'no symbols' || fail "$exe keeps its symbol table"
  local size
  size=$(stat -c %s "$exe")
  echo "$exe: $size bytes ($(((size + 1023) / 1024)) KiB), imports: $(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '\n' ' ')"
  [ "$size" -lt "$SIZE_LIMIT" ] || fail "$exe is $size bytes, not under $SIZE_LIMIT"
}

check_version_resource() {  # exe
  local exe=$1 shown expected
  cp "$exe" "$(linux_path 'C:\checked.exe')"
  shown=$(wine_run "$TEST_PROGRAMS/qnetprep_version.exe" 'C:\checked.exe')
  expected='FileVersion 0.0.3.7
ProductVersion 0.0.3.7
FileOS 0x40004
FileType 1
String FileDescription=qnetprep
String FileVersion=0, 0, 3, 7
String InternalName=qnetprep
String OriginalFilename=qnetprep.exe
String ProductName=qnetprep
String ProductVersion=0, 0, 3, 7'
  [ "$shown" = "$expected" ] || fail "version resource of $exe reads as:
$shown"
}

if [ $# -lt 3 ] || [ $(($# % 3)) -ne 0 ]; then fail "usage: footprint.sh <exe> <objdump> <format>..."; fi
args=("$@")
for ((i = 0; i < ${#args[@]}; i += 3)); do check_binary "${args[@]:i:3}"; done

trap machine_close EXIT
machine_open
for ((i = 0; i < ${#args[@]}; i += 3)); do check_version_resource "${args[i]}"; done
echo "PASS: footprint"
