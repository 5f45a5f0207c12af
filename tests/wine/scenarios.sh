# shellcheck shell=bash
# End-to-end scenarios: seed a machine, run qnetprep.exe as a user or the Add/Remove
# list would, and compare what the machine then shows (state.sh) with what the program
# must have done. They use only the machine functions (machine_wine.sh), so the same
# scenarios can run on any machine that provides them.

VENDOR_KEY='HKLM\Software\Orvix'
PRODUCT_KEY="$VENDOR_KEY\\qnetprep"
PARAMETERS_KEY="$PRODUCT_KEY\\Parameters"
LIST_KEY="$VENDOR_KEY\\Kadrimov\\SupportedDevices"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
INSTALL_FOLDER="$PROGRAM_FILES\\Orvix\\qnetprep"
PACKAGE_FILES=(Net73417.din 7341XDEL.EXE 7341XNDI.DLL net7341a.inf net73417.inf rx90kw2a.cat RX90KW2K.CAT RX90K.CAT
  RX90KA.CAT RX90K.SYS RX90KNT.SYS RX90KNT5.SYS PRBQ410.EXE WKE736.VXD Kadrimov.exe OrvixNic.dll rx90kodi.com)
FIRST_SELF_COPY_LINE='SetFileAttributes error, error value = 2'

# Devices that every install clears (supported, with a description) and devices that
# it must leave: no description, another vendor, or a device of the vendor that neither
# the built-in table nor the list names.
NET_SUPPORTED='PCI\VEN_1E7C&DEV_4C43&SUBSYS_73411E7C&REV_10\4&2B8260C3&0&00E4'
NET_NO_DESCRIPTION='PCI\VEN_1E7C&DEV_3A02&SUBSYS_00000000&REV_01\4&2B8260C3&0&08E4'
NET_OTHER_VENDOR='PCI\VEN_10EC&DEV_8139&SUBSYS_813910EC&REV_10\4&2B8260C3&0&10E4'
NET_UNLISTED='PCI\VEN_1E7C&DEV_4C60&SUBSYS_00000000&REV_01\4&2B8260C3&0&20E4'
OTHER_SUPPORTED='PCI\VEN_1E7C&DEV_7D31&SUBSYS_00000000&REV_02\4&2B8260C3&0&18E4'
OTHER_NO_DESCRIPTION='PCI\VEN_1E7C&DEV_4C47&SUBSYS_00000000&REV_02\4&2B8260C3&0&28E4'
OTHER_OTHER_VENDOR='PCI\VEN_8086&DEV_100E&SUBSYS_001E8086&REV_02\3&267A616A&0&18'

seed_standard_machine() {
  seed_device net "$NET_SUPPORTED" "Orvix RX90K PCI Fast Ethernet Adapter"
  seed_device net "$NET_NO_DESCRIPTION"
  seed_device net "$NET_OTHER_VENDOR" "Realtek RTL8139 Family PCI Fast Ethernet NIC"
  seed_device net "$NET_UNLISTED" "Orvix RX90K Gigabit Adapter"
  seed_device other "$OTHER_SUPPORTED" "Ethernet Controller"
  seed_device other "$OTHER_NO_DESCRIPTION"
  seed_device other "$OTHER_OTHER_VENDOR" "Ethernet Controller"
  seed_service RX90K
}

standard_devices_left() {
  printf '%s\n' \
    "device net $NET_NO_DESCRIPTION desc=none" \
    "device net $NET_OTHER_VENDOR desc=\"Realtek RTL8139 Family PCI Fast Ethernet NIC\"" \
    "device net $NET_UNLISTED desc=\"Orvix RX90K Gigabit Adapter\"" \
    "device other $OTHER_NO_DESCRIPTION desc=none" \
    "device other $OTHER_OTHER_VENDOR desc=\"Ethernet Controller\""
}

# make_package [file to leave out]...: C:\pkg with the sample package and qnetprep.exe.
make_package() {
  local package
  package=$(linux_path 'C:\pkg')
  mkdir -p "$package"
  cp "$QNETPREP_SOURCE_DIR"/sample/package/* "$package/"
  cp "$QNETPREP_WINDOWS_EXE" "$package/qnetprep.exe"
  local left_out
  for left_out in "$@"; do rm -f "$package/$left_out"; done
}

# --- Expected lines -----------------------------------------------------------------

sample_size() { stat -c %s "$QNETPREP_SOURCE_DIR/sample/package/$1"; }

# The install folder holding the package files, except those named.
staged_files() {
  echo "dir $INSTALL_FOLDER"
  local file left_out
  for file in "${PACKAGE_FILES[@]}"; do
    for left_out in "$@"; do [ "$file" = "$left_out" ] && continue 2; done
    echo "file $INSTALL_FOLDER\\$file size=$(sample_size "$file") attr=-"
  done
}

stored_inf() {
  echo "file {stored $1} size=$(sample_size "$1") attr=-"
  echo "file {PNF of $1} size=* attr=-"
}

self_copy() { echo "file $SYSTEM_FOLDER\\qnetprep.exe size=$(stat -c %s "$QNETPREP_WINDOWS_EXE") attr=-"; }
no_self_copy() { echo "nofile $SYSTEM_FOLDER\\qnetprep.exe"; }

# A REG_SZ written as 512 bytes: the text, its NUL and NULs up to byte 512.
value_512() { printf 'value %s "%s" REG_SZ len=512 "%s"+NUL*%d\n' "$1" "$2" "$3" $((512 - ${#3})); }
slot_value() { printf 'value %s "%s" REG_SZ len=512 "{stored %s}"+NUL*...\n' "$PARAMETERS_KEY" "$1" "$2"; }
# A REG_SZ written with the text's length and no NUL: the registry counts the NUL that
# follows the text in the program's buffer, as Windows NT does, so one more byte is stored.
value_text() { printf 'value %s "%s" REG_SZ len=%d "%s"+NUL*1\n' "$1" "$2" $((${#3} + 1)) "$3"; }

success_records() {
  echo "key $PRODUCT_KEY"
  value_512 "$PRODUCT_KEY" Install Success
  value_512 "$PRODUCT_KEY" reboot reboot
  value_512 "$PRODUCT_KEY" Version 0.0.3.6
  echo "key $PARAMETERS_KEY"
}

add_remove_entry() {
  echo "key $UNINSTALL_KEY\\qnetprep"
  value_text "$UNINSTALL_KEY\\qnetprep" DisplayName "Orvix adapter installation program"
  value_text "$UNINSTALL_KEY\\qnetprep" UninstallString "qnetprep.exe /u"
}

# The service gone and nothing recorded: only the (empty) vendor key, no Add/Remove entry.
nothing_recorded() {
  printf '%s\n' "service RX90K absent" "key $VENDOR_KEY" "nokey $UNINSTALL_KEY\\qnetprep" "nokey $UNINSTALL_KEY\\Lumora"
}

# A recorded install whose pre-install failed on a fresh machine: "Install" = "Fail",
# no slot, no Add/Remove entry, the package staged all the same.
failed_recorded_install() {
  printf '%s\n' "service RX90K absent" "key $VENDOR_KEY" "key $PRODUCT_KEY"
  value_512 "$PRODUCT_KEY" Install Fail
  printf '%s\n' "key $PARAMETERS_KEY" "nokey $UNINSTALL_KEY\\qnetprep" "nokey $UNINSTALL_KEY\\Lumora"
  staged_files
}

# --- Checks ---------------------------------------------------------------------------

expect_run() {  # exit-code standard-output
  [ "$RUN_EXIT" = "$1" ] || fail "exit code $RUN_EXIT, expected $1"
  [ "$RUN_STDOUT" = "$2" ] || fail "standard output [$RUN_STDOUT], expected [$2]"
}

# Compares the machine's state with the lines on standard input (blank lines ignored).
expect_state() {
  local expected=$MACHINE_DIR/expected.txt actual=$MACHINE_DIR/actual.txt
  grep -v '^$' | LC_ALL=C sort >"$expected"
  machine_state >"$actual"
  if ! diff -u "$expected" "$actual" >"$MACHINE_DIR/state.diff"; then
    cat "$MACHINE_DIR/state.diff" >&2
    fail "machine state differs from the expected one (${FUNCNAME[1]})"
  fi
}

# Staged files are the package's files, byte for byte; the self-copy is the program.
expect_same_content() {  # windows-path linux-file
  cmp -s "$(linux_path "$1")" "$2" || fail "$1 differs from $2"
}

expect_staged_content() {
  local file
  for file in "${PACKAGE_FILES[@]}"; do
    [ -f "$(linux_path "$INSTALL_FOLDER\\$file")" ] || continue
    expect_same_content "$INSTALL_FOLDER\\$file" "$QNETPREP_SOURCE_DIR/sample/package/$file"
  done
}

# --- Scenarios ------------------------------------------------------------------------

# A first run with no options: devices and service cleared, package staged, both INFs
# pre-installed, and nothing recorded but the empty vendor key.
scenario_first_default_run() {
  seed_standard_machine
  make_package
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe'
  expect_run 1 ""
  expect_state <<EOF
$(standard_devices_left)
$(nothing_recorded)
$(staged_files)
$(stored_inf net7341a.inf)
$(stored_inf net73417.inf)
$(no_self_copy)
EOF
  expect_staged_content
}

recorded_install_state() {
  cat <<EOF
key $VENDOR_KEY
$(success_records)
$(slot_value RenamedInf net7341a.inf)
$(slot_value RenamedInf1 net73417.inf)
$(add_remove_entry)
nokey $UNINSTALL_KEY\\Lumora
$(staged_files)
$(stored_inf net7341a.inf)
$(stored_inf net73417.inf)
$(self_copy)
EOF
}

# "/au": the same install, recorded: outcome, stored names in both slots, Add/Remove
# entry, and the self-copy, whose first attempt reports that no copy was there yet.
scenario_recorded_run() {
  seed_standard_machine
  make_package
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au
  expect_run 1 "$FIRST_SELF_COPY_LINE"
  expect_state <<EOF
$(standard_devices_left)
service RX90K absent
$(recorded_install_state)
EOF
  expect_staged_content
  expect_same_content "$SYSTEM_FOLDER\\qnetprep.exe" "$QNETPREP_WINDOWS_EXE"
}

# A second "/au" run clears the first install through its records (a stored INF that
# was changed in the meantime must be deleted, not kept beside a new copy), clears a
# device and service that came back, and records the same install again, silently.
scenario_repeated_recorded_run() {
  seed_standard_machine
  make_package
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au
  expect_run 1 "$FIRST_SELF_COPY_LINE"

  local stored
  stored=$(registry_text "$PARAMETERS_KEY" RenamedInf)
  [ -n "$stored" ] || fail "no RenamedInf record after the first run"
  printf '; changed after the install\r\n' >>"$(linux_path "$stored")"
  seed_device net "$NET_SUPPORTED" "Orvix RX90K PCI Fast Ethernet Adapter"
  seed_service RX90K

  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au
  expect_run 1 ""
  expect_state <<EOF
$(standard_devices_left)
service RX90K absent
$(recorded_install_state)
EOF
}

# "/inf=" with a bare name from the package: only that INF is pre-installed, into slot 0.
scenario_single_inf_recorded() {
  seed_standard_machine
  make_package
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au /inf=net73417.inf
  expect_run 1 "$FIRST_SELF_COPY_LINE"
  expect_state <<EOF
$(standard_devices_left)
service RX90K absent
key $VENDOR_KEY
$(success_records)
$(slot_value RenamedInf net73417.inf)
$(add_remove_entry)
nokey $UNINSTALL_KEY\\Lumora
$(staged_files)
$(stored_inf net73417.inf)
$(self_copy)
EOF
}

# "/inf=" with nothing after it names the install folder itself: the pre-install fails,
# which a recorded run writes down as "Fail", with no slot, entry or self-copy.
scenario_empty_inf_argument() {
  make_package
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au /inf=
  expect_run 1 ""
  expect_state <<EOF
$(failed_recorded_install)
$(no_self_copy)
EOF
}

# A package without some files stages the rest. Without the catalog that net73417.inf
# names, its pre-install fails (error 2), so the second install records "Fail" and
# keeps "reboot", "Version", slot 0, the entry and the self-copy of the first.
scenario_partial_package() {
  make_package RX90KW2K.CAT RX90K.SYS PRBQ410.EXE
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au
  expect_run 1 "$FIRST_SELF_COPY_LINE"
  expect_state <<EOF
service RX90K absent
key $VENDOR_KEY
key $PRODUCT_KEY
$(value_512 "$PRODUCT_KEY" Install Fail)
$(value_512 "$PRODUCT_KEY" reboot reboot)
$(value_512 "$PRODUCT_KEY" Version 0.0.3.6)
key $PARAMETERS_KEY
$(slot_value RenamedInf net7341a.inf)
$(add_remove_entry)
nokey $UNINSTALL_KEY\\Lumora
$(staged_files RX90KW2K.CAT RX90K.SYS PRBQ410.EXE)
$(stored_inf net7341a.inf)
$(self_copy)
EOF
  expect_staged_content
}

# The Add/Remove list runs "qnetprep.exe /u" from the system folder: it clears the
# devices and service again, deletes the stored INFs and their PNFs, the records, both
# Add/Remove entries ("Lumora" too), and leaves the install folder, the self-copy and
# the vendor key.
scenario_uninstall_after_recorded_install() {
  seed_standard_machine
  make_package
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au
  expect_run 1 "$FIRST_SELF_COPY_LINE"
  seed_device other "$OTHER_SUPPORTED" "Ethernet Controller"
  seed_service RX90K
  seed_uninstall_entry Lumora

  run_qnetprep "$SYSTEM_FOLDER" "$SYSTEM_FOLDER\\qnetprep.exe" /u
  expect_run 1 ""
  expect_state <<EOF
$(standard_devices_left)
$(nothing_recorded)
$(staged_files)
$(self_copy)
EOF
}

# The supported-device list adds devices of other vendors and of the vendor; names count
# by their first four characters, case-free. A vendor subkey whose name is not
# hexadecimal adds nothing: read as vendor 0 it would match every device whose
# identifier has no vendor field at character 8, such as this ROOT one.
scenario_device_removal_with_list() {
  seed_standard_machine
  local listed_other_vendor='PCI\VEN_10EC&DEV_8168&SUBSYS_816810EC&REV_06\4&1F7DBC9F&0&00E1'
  local root_device='ROOT\NETADAPTER\X4C61'
  seed_device net "$listed_other_vendor" "Realtek PCIe GbE Family Controller"
  seed_device other "$root_device" "Virtual adapter"
  seed_supported_device 10ec 8168
  seed_supported_device 1E7C 4c60xyz
  seed_supported_device WXYZ 4C61
  make_package
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /u
  expect_run 1 ""
  expect_state <<EOF
device net $NET_NO_DESCRIPTION desc=none
device net $NET_OTHER_VENDOR desc="Realtek RTL8139 Family PCI Fast Ethernet NIC"
device other $OTHER_NO_DESCRIPTION desc=none
device other $OTHER_OTHER_VENDOR desc="Ethernet Controller"
device other $root_device desc="Virtual adapter"
service RX90K absent
key $VENDOR_KEY
key $VENDOR_KEY\\Kadrimov
key $LIST_KEY
key $LIST_KEY\\10ec
value $LIST_KEY\\10ec "8168" REG_SZ len=1 ""+NUL*1
key $LIST_KEY\\1E7C
value $LIST_KEY\\1E7C "4c60xyz" REG_SZ len=1 ""+NUL*1
key $LIST_KEY\\WXYZ
value $LIST_KEY\\WXYZ "4C61" REG_SZ len=1 ""+NUL*1
nokey $UNINSTALL_KEY\\qnetprep
nokey $UNINSTALL_KEY\\Lumora
nofolder $PROGRAM_FILES\\Orvix
nofolder $INSTALL_FOLDER
$(no_self_copy)
EOF
}

# "/inf=" naming a file that is not a Windows NT style INF (its [Version] has no
# signature): it is staged, the system refuses to pre-install it, and the recorded run
# writes down "Fail" with no slot, entry or self-copy.
scenario_single_inf_not_windows_nt() {
  make_package
  printf '[Version]\r\nClass=Net\r\n' >"$(linux_path 'C:\pkg')/legacy.inf"
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au /inf=legacy.inf
  expect_run 1 ""
  expect_state <<EOF
$(failed_recorded_install)
file $INSTALL_FOLDER\\legacy.inf size=22 attr=-
$(no_self_copy)
EOF
}

# Files that another program protected: an older self-copy that is read-only, hidden and
# system is replaced silently (its attributes are cleared first), and a stored INF made
# read-only and hidden is still deleted by the uninstall, with its PNF.
scenario_protected_files_are_replaced_and_deleted() {
  make_package
  printf 'an older copy\r\n' >"$(linux_path "$SYSTEM_FOLDER")/qnetprep.exe"
  set_file_attributes "$SYSTEM_FOLDER\\qnetprep.exe" R H S
  run_qnetprep 'C:\pkg' 'C:\pkg\qnetprep.exe' /au
  expect_run 1 ""
  expect_state <<EOF
service RX90K absent
$(recorded_install_state)
EOF
  expect_same_content "$SYSTEM_FOLDER\\qnetprep.exe" "$QNETPREP_WINDOWS_EXE"

  local stored
  stored=$(registry_text "$PARAMETERS_KEY" RenamedInf1)
  [ -n "$stored" ] || fail "no RenamedInf1 record after the install"
  set_file_attributes "$stored" R H
  run_qnetprep "$SYSTEM_FOLDER" "$SYSTEM_FOLDER\\qnetprep.exe" /u
  expect_run 1 ""
  expect_state <<EOF
$(nothing_recorded)
$(staged_files)
$(self_copy)
EOF
}
