# shellcheck shell=bash
# The simulated machine of the end-to-end scenarios: a fresh machine folder per scenario
# (QNETPREP_MACHINE), the native qnetprep, and the test programs of tests/windows built
# over the simulated machine (tests/sim_tools), so that a scenario seeds and inspects it
# with the same programs that seed and inspect a Wine machine. The registry has no
# reg.exe or sc.exe here: keys and services are seeded by appending sections to the
# machine's registry.reg between runs, as a person would edit it.
#
# Sourced by run_scenario.sh. Provides the same functions as machine_wine.sh:
#   machine_open, machine_close, seed_device, seed_supported_device, seed_service,
#   seed_uninstall_entry, set_file_attributes, make_package, run_qnetprep, registry_text,
#   machine_state, linux_path.
#
# Environment: QNETPREP_NATIVE_BUILD_DIR (default build/native) or, each on its own,
# QNETPREP_SIM_EXE, QNETPREP_SIM_DUMP and QNETPREP_SIM_DEVICES. The package's
# qnetprep.exe is only data here (the self-copy copies it): QNETPREP_SIM_PACKAGE_EXE, or
# the Windows build's program when there is one, so that both machines copy the same
# bytes, or else the native program.

: "${QNETPREP_SOURCE_DIR:?}"
QNETPREP_NATIVE_BUILD_DIR=${QNETPREP_NATIVE_BUILD_DIR:-$QNETPREP_SOURCE_DIR/build/native}
SIM_EXE=${QNETPREP_SIM_EXE:-$QNETPREP_NATIVE_BUILD_DIR/qnetprep}
SIM_DUMP=${QNETPREP_SIM_DUMP:-$QNETPREP_NATIVE_BUILD_DIR/tests/sim_tools/qnetprep_dump}
SIM_DEVICES=${QNETPREP_SIM_DEVICES:-$QNETPREP_NATIVE_BUILD_DIR/tests/sim_tools/qnetprep_devices}
QNETPREP_WINDOWS_EXE=${QNETPREP_SIM_PACKAGE_EXE:-${QNETPREP_WINDOWS_BUILD_DIR:-}/qnetprep.exe}
[ -f "$QNETPREP_WINDOWS_EXE" ] || QNETPREP_WINDOWS_EXE=$SIM_EXE

# The spellings that the simulated machine, like Windows, gives these folders.
INF_STORE='C:\Windows\INF'
SYSTEM_FOLDER='C:\Windows\System32'
PROGRAM_FILES='C:\Program Files'

machine_open() {
  local program
  for program in "$SIM_EXE" "$SIM_DUMP" "$SIM_DEVICES"; do
    [ -x "$program" ] || fail "missing $program: build the native preset first"
  done
  MACHINE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qnetprep-sim.XXXXXX")
  export QNETPREP_MACHINE=$MACHINE_DIR/machine
  # A Windows process sees "ProgramFiles" as Windows sets it; the test settings of the
  # simulated machine must not reach the scenario's programs.
  export ProgramFiles=$PROGRAM_FILES
  unset QNETPREP_FAIL_CALL QNETPREP_FAIL_NAME QNETPREP_CRASH_AT QNETPREP_CALL_LOG
  # The first program creates the machine; the store holds no INF of its own.
  sim_run "$SIM_DUMP" files "$INF_STORE" >"$MACHINE_DIR/inf-baseline.txt"
}

machine_close() {
  [ -n "${MACHINE_DIR:-}" ] || return 0
  if [ -n "${QNETPREP_KEEP_MACHINE:-}" ]; then
    echo "machine kept in $MACHINE_DIR" >&2
  else
    rm -rf "$MACHINE_DIR"
  fi
}

# Runs a test program over the machine; fails the scenario when the program fails.
sim_run() {
  local status=0
  "$@" 2>"$MACHINE_DIR/err.txt" || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$MACHINE_DIR/err.txt" >&2
    fail "$* exited with $status"
  fi
}

# C:\a\b -> the Linux path inside the machine folder. Windows names match without
# regard to case: each existing component is spelled as it is on disk.
linux_path() {
  local rest=${1#[A-Za-z]:}
  local drive=${1:0:1}
  local path=$QNETPREP_MACHINE/drive_${drive,,} component match
  local -a components
  # shellcheck disable=SC1003,SC2141 # Windows paths are split at the backslash itself
  IFS='\' read -r -a components <<<"${rest#\\}"
  for component in "${components[@]}"; do
    [ -n "$component" ] || continue
    if [ ! -e "$path/$component" ] && [ -d "$path" ]; then
      match=$(find "$path" -mindepth 1 -maxdepth 1 -iname "$component" -printf '%f\n' | LC_ALL=C sort | head -n 1)
      [ -n "$match" ] && component=$match
    fi
    path=$path/$component
  done
  printf '%s\n' "$path"
}

# Appends a key with its values to the machine's registry (no program runs meanwhile).
# Values are REGEDIT4 lines, for example '"DisplayName"="Lumora"'.
registry_add() {  # key-below-HKLM value-line...
  local key=$1
  shift
  {
    printf '\n[HKEY_LOCAL_MACHINE\\%s]\n' "$key"
    local value
    for value in "$@"; do printf '%s\n' "$value"; done
  } >>"$QNETPREP_MACHINE/registry.reg"
}

seed_device() {  # class instance-id [description]
  sim_run "$SIM_DEVICES" create "$@" >/dev/null
}

# As reg add leaves it: an empty REG_SZ, its NUL only.
seed_supported_device() {  # vendor-subkey value-name
  registry_add "Software\\Orvix\\Kadrimov\\SupportedDevices\\$1" "\"$2\"=\"\""
}

# A kernel driver service, as sc create leaves its key.
seed_service() {  # name
  registry_add "SYSTEM\\CurrentControlSet\\Services\\$1" '"Type"=dword:00000001' '"Start"=dword:00000003' \
    '"ErrorControl"=dword:00000001' "\"ImagePath\"=\"C:\\\\Windows\\\\System32\\\\drivers\\\\$1.SYS\""
}

# The machine keeps the read-only, hidden and system bits itself, a line per file
# "<hex bits> <path in the machine folder>"; a later line for a file replaces an earlier.
set_file_attributes() {  # windows-path R|H|S...
  local path bits=0 bit
  path=$(linux_path "$1")
  shift
  for bit in "$@"; do
    case $bit in
      R) bits=$((bits | 1)) ;;
      H) bits=$((bits | 2)) ;;
      S) bits=$((bits | 4)) ;;
      *) fail "no attribute bit $bit" ;;
    esac
  done
  local list=$QNETPREP_MACHINE/file-attributes.txt relative=${path#"$QNETPREP_MACHINE"/} known
  known=$(awk -v file="$relative" 'substr($0, index($0, " ") + 1) == file { bits = $1 } END { print bits }' \
    "$list" 2>/dev/null)
  [ -z "$known" ] || bits=$((bits | 16#$known))
  printf '%x %s\n' "$bits" "$relative" >>"$list"
}

seed_uninstall_entry() {  # name
  registry_add "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" "\"DisplayName\"=\"$1\""
}

# run_qnetprep <Windows folder> <program> [argument]...: runs the native program with
# that current folder; the Windows path of the program says only which one Windows
# would start, and here there is one. Sets RUN_EXIT and RUN_STDOUT.
# shellcheck disable=SC2034 # read by the scenarios
run_qnetprep() {
  local folder=$1
  shift 2
  local out=$MACHINE_DIR/qnetprep-stdout.txt
  RUN_EXIT=0
  (cd "$(linux_path "$folder")" && "$SIM_EXE" "$@" >"$out" 2>"$MACHINE_DIR/qnetprep-stderr.txt") || RUN_EXIT=$?
  RUN_STDOUT=$(cat "$out")
}

registry_text() {  # key value-name: the text of a REG_SZ value, as the dump shows it
  local prefix="value $1 \"$2\" REG_SZ len=" dump=$MACHINE_DIR/registry-text.txt line
  sim_run "$SIM_DUMP" key "$1" >"$dump"
  while IFS= read -r line; do
    [ "${line#"$prefix"}" != "$line" ] || continue
    sed -E 's/^[0-9]+ "(.*)"(\+NUL\*[0-9]+)?$/\1/; s/\\"/"/g; s/\\\\/\\/g' <<<"${line#"$prefix"}"
  done <"$dump"
}

# The machine as the scenarios compare it (see state.sh for the format and the masking).
machine_state() {
  local raw=$MACHINE_DIR/state-raw.txt
  sim_run "$SIM_DUMP" "${STATE_DUMP_ARGUMENTS[@]}" >"$raw"
  normalize_state "$raw" "$MACHINE_DIR/inf-baseline.txt"
}
