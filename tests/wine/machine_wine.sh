# shellcheck shell=bash
# The Wine machine of the end-to-end scenarios: a fresh Wine prefix per scenario, seeded
# and inspected only through Windows programs (Wine's own reg and sc, and the MinGW test
# programs of tests/windows), so that what the scenarios see is what Windows would show.
#
# Sourced by run_scenario.sh. Provides the machine functions that scenarios.sh calls:
#   machine_open, machine_close, seed_device, seed_supported_device, seed_service,
#   seed_uninstall_entry, set_file_attributes, make_package, run_qnetprep, registry_text,
#   machine_state, linux_path.
#
# Wine 8 behaviour that the simulated machine copies, as observed with a MinGW probe,
# except where Windows differs: there the simulated machine follows Windows and
# compare_scenario.sh masks the difference.
# - SetupCopyOEMInfA ignores SP_COPY_OEMINF_CATALOG_ONLY: the first call of an install
#   already stores the INF (Windows stores nothing with that style). It stores it in
#   C:\windows\inf under its own file name, with a
#   PNF beside it (name with its extension replaced by ".pnf" in lower case: UPPER.INF
#   gives UPPER.pnf), and copies the catalog that [Version] CatalogFile names into
#   C:\windows\system32\catroot\{F750E6C3-38EE-11D1-85E5-00C04FC295EE}. An INF whose
#   content is already in the store, under any name, gets that name back; an INF whose
#   own name is taken by other content becomes oem0.inf, oem1.inf, ... Windows itself
#   always names the stored copy oemN.inf.
# - SetupCopyOEMInfA failures (GetLastError): source missing 2; its folder missing 3;
#   source a folder (with or without a trailing backslash) 5; relative path 2; catalog
#   named in [Version] missing 2 (a quoted name and a comment after it are fine); no
#   [Version] section, or one without a "$Windows NT$", "$Chicago$" or "$Windows 95$"
#   Signature, 0xE0000100; an empty file 1006; text before the first section
#   0xE0000000 unless that section is [Strings]; a file with no section at all
#   0xE0000000 (Windows: 0xE0000100, as Wine's own conformance tests record);
#   destination buffer too small 122, with the INF stored all the same. A failed
#   call leaves bytes in the destination buffer (seen: "?4"), so only a successful one
#   may be read.
# - RegSetValueExA REG_SZ with the text's length and no NUL stores one byte more when the
#   caller's byte after the data is NUL; RegQueryValueExA into 512 bytes of a 513-byte
#   value fails with 234 and reports 513. RegDeleteKeyA: a key with subkeys 5, a missing
#   key 2, an empty name 5; it deletes a key that still has an open handle (later writes
#   through that handle fail with 1018). SHDeleteKeyA of a missing key: 2.
# - OpenServiceA: empty name 123, missing service 1060; DeleteService a second time 1072;
#   the service stays openable until its last handle is closed.
# - CopyFileA with fail-if-exists onto an existing file: 80 (also onto an existing
#   folder); without the flag onto a folder: 5; source a folder: 5; source missing 2,
#   source folder missing 3. The copy keeps the source's read-only, hidden and system
#   attributes. GetFileAttributesA and SetFileAttributesA on a missing file 2, in a
#   missing folder 3; SetFileAttributesA on "" 3, on a folder (with or without a trailing
#   backslash) success. DeleteFileA of a read-only file: 5. CreateDirectoryA of an
#   existing folder (or file): 183. A doubled backslash inside a path is accepted by
#   every file call above. GetEnvironmentVariableA("ProgramFiles") into 3 characters
#   returns 17, the size it needs with its NUL.

: "${QNETPREP_SOURCE_DIR:?}" "${QNETPREP_WINDOWS_BUILD_DIR:?}"
WINE=${WINE:-wine}
WINESERVER=${WINESERVER:-wineserver}
WINEBOOT=${WINEBOOT:-wineboot}

QNETPREP_WINDOWS_EXE=$QNETPREP_WINDOWS_BUILD_DIR/qnetprep.exe
TEST_PROGRAMS=$QNETPREP_WINDOWS_BUILD_DIR/tests/windows

# Windows spellings of the folders that the state shows.
INF_STORE='C:\windows\inf'
SYSTEM_FOLDER='C:\windows\system32'
PROGRAM_FILES='C:\Program Files'

machine_open() {
  for program in "$QNETPREP_WINDOWS_EXE" "$TEST_PROGRAMS/qnetprep_devices.exe" "$TEST_PROGRAMS/qnetprep_dump.exe"; do
    [ -f "$program" ] || fail "missing $program: build the windows preset first"
  done
  MACHINE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qnetprep-wine.XXXXXX")
  export WINEPREFIX=$MACHINE_DIR/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -n "${QNETPREP_WINE_TEMPLATE:-}" ] && [ -f "$QNETPREP_WINE_TEMPLATE/system.reg" ]; then
    cp -a "$QNETPREP_WINE_TEMPLATE" "$WINEPREFIX"
  else
    "$WINEBOOT" -i >"$MACHINE_DIR/wineboot.log" 2>&1 || fail "wineboot failed (see $MACHINE_DIR/wineboot.log)"
    "$WINESERVER" -w
  fi
  # Wine's own INFs: the state shows only what differs from them.
  wine_run "$TEST_PROGRAMS/qnetprep_dump.exe" files "$INF_STORE" >"$MACHINE_DIR/inf-baseline.txt"
}

# The registry is read only through Windows programs, never from the prefix's .reg
# files, which the server writes when it ends; files are read from Linux only once the
# program that wrote them has ended. So the server needs to end only before removal.
machine_close() {
  [ -n "${MACHINE_DIR:-}" ] || return 0
  WINEPREFIX=$MACHINE_DIR/prefix "$WINESERVER" -w 2>/dev/null || true
  if [ -n "${QNETPREP_KEEP_MACHINE:-}" ]; then
    echo "machine kept in $MACHINE_DIR" >&2
  else
    rm -rf "$MACHINE_DIR"
  fi
}

# Runs a Windows program; its standard output goes to this function's standard output
# through a file (services that Wine starts inherit the handle and would hold a pipe
# open). Fails the scenario when the program fails, unless WINE_RUN_ANY_EXIT is set.
wine_run() {
  local out=$MACHINE_DIR/out.txt err=$MACHINE_DIR/err.txt status=0
  "$WINE" "$@" >"$out" 2>"$err" || status=$?
  tr -d '\r' <"$out"
  if [ "$status" -ne 0 ] && [ -z "${WINE_RUN_ANY_EXIT:-}" ]; then
    cat "$err" >&2
    fail "wine $* exited with $status"
  fi
  return "$status"
}

linux_path() {  # C:\a\b -> the Linux path inside the prefix
  local rest=${1#[Cc]:\\}
  printf '%s/drive_c/%s\n' "$WINEPREFIX" "${rest//\\//}"
}

seed_device() {  # class instance-id [description]
  wine_run "$TEST_PROGRAMS/qnetprep_devices.exe" create "$@" >/dev/null
}

seed_supported_device() {  # vendor-subkey value-name
  wine_run reg add "HKLM\\Software\\Orvix\\Kadrimov\\SupportedDevices\\$1" /v "$2" /t REG_SZ /d "" /f >/dev/null
}

seed_service() {  # name
  wine_run sc create "$1" binPath= "C:\\windows\\system32\\drivers\\$1.SYS" type= kernel >/dev/null
}

set_file_attributes() {  # windows-path R|H|S...: one attrib run per bit (Wine's attrib
  # keeps only some of several bits given at once)
  local path=$1 bit
  shift
  for bit in "$@"; do wine_run attrib "+$bit" "$path" >/dev/null; done
}

seed_uninstall_entry() {  # name
  wine_run reg add "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$1" /v DisplayName /t REG_SZ \
    /d "$1" /f >/dev/null
}

# run_qnetprep <Windows folder> <program> [argument]...: runs the program with that
# current folder, as Explorer or the Add/Remove list would; sets RUN_EXIT and RUN_STDOUT.
# shellcheck disable=SC2034 # read by the scenarios
run_qnetprep() {
  local folder=$1 program=$2
  shift 2
  local out=$MACHINE_DIR/qnetprep-stdout.txt
  RUN_EXIT=0
  (cd "$(linux_path "$folder")" && "$WINE" "$program" "$@" >"$out" 2>"$MACHINE_DIR/qnetprep-stderr.txt") || RUN_EXIT=$?
  RUN_STDOUT=$(cat "$out")
}

registry_text() {  # key value-name: the text of a REG_SZ value, as reg query shows it
  WINE_RUN_ANY_EXIT=1 wine_run reg query "$1" /v "$2" | sed -n "s/^ *$2 *REG_SZ *//p"
}

# The machine as the scenarios compare it (see state.sh for the format and the masking).
machine_state() {
  local raw=$MACHINE_DIR/state-raw.txt
  wine_run "$TEST_PROGRAMS/qnetprep_dump.exe" "${STATE_DUMP_ARGUMENTS[@]}" >"$raw"
  check_with_wine_tools "$raw"
  normalize_state "$raw" "$MACHINE_DIR/inf-baseline.txt"
}

# The dump is our own program; Wine's reg and sc must tell the same story.
check_with_wine_tools() {
  local raw=$1 listing=$MACHINE_DIR/reg-query.txt line
  : >"$listing"
  local root
  local -a roots=('HKLM\Software\Orvix' 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qnetprep'
    'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora')
  for root in "${roots[@]}"; do
    # reg query succeeds on an existing key (Wine prints no heading for one without values).
    if grep -qxF "key $root" "$raw"; then
      wine_run reg query "$root" /s >>"$listing"
    else
      WINE_RUN_ANY_EXIT=1 wine_run reg query "$root" >/dev/null && fail "reg query finds $root, the dump does not"
    fi
  done
  local key
  while IFS= read -r line; do
    case $line in
      key\ HKLM\\*)
        for root in "${roots[@]}"; do [ "$line" = "key $root" ] && continue 2; done
        key=HKEY_LOCAL_MACHINE${line#key HKLM}
        grep -qixF -- "$key" "$listing" || fail "reg query does not list $key"
        ;;
      value\ *\ REG_SZ\ len=*)
        # value <key> "<name>" REG_SZ len=<n> "<text>"[+NUL*<k>]: reg shows the text.
        local name text
        name=$(sed -E 's/^value .* "([^"]*)" REG_SZ len=[0-9]+ .*$/\1/' <<<"$line")
        text=$(sed -E 's/^.* REG_SZ len=[0-9]+ "(.*)"(\+NUL\*[0-9]+)?$/\1/; s/\\"/"/g; s/\\\\/\\/g' <<<"$line")
        grep -qF -- "    $name    REG_SZ    $text" "$listing" || fail "reg query does not show $name = $text"
        ;;
    esac
  done <"$raw"
  local sc_exit=0
  WINE_RUN_ANY_EXIT=1 wine_run sc query RX90K >"$MACHINE_DIR/sc-query.txt" || sc_exit=$?
  if grep -qxF 'service RX90K present' "$raw"; then
    if [ "$sc_exit" -ne 0 ] || ! grep -q '^SERVICE_NAME: RX90K' "$MACHINE_DIR/sc-query.txt"; then
      fail "sc query does not show the service RX90K that the dump finds"
    fi
  else
    [ "$sc_exit" -ne 0 ] || fail "sc query shows the service RX90K that the dump does not find"
  fi
}
