# shellcheck shell=bash
# The machine state that scenarios compare, in the line format of qnetprep_dump
# (tests/windows/state_dump.cpp), made independent of the machine it was read on:
#
# - The INF store shows only what differs from the machine's own INFs at the start:
#   files added, and "lost <line>" for a file of its own that has gone.
# - The system names a pre-installed INF by its own scheme (Wine keeps the file's name,
#   Windows makes oemN.inf). Each stored INF is therefore shown by the package INF whose
#   content it holds, "{stored net7341a.inf}", its PNF as "{PNF of net7341a.inf}" with its
#   size masked (the PNF format is the system's own), and a record that names it shows
#   that label too, with its trailing NULs masked (len= still shows the stored length).
#   A record that names no stored copy of a package INF keeps its text and so shows up.
#
# Needs the machine functions linux_path and the variable INF_STORE.

# What every scenario compares: the product's keys and entries, the install folder, the
# INF store, the self-copy, the devices of both classes and the service (qnetprep_dump's
# arguments; the machine functions supply PROGRAM_FILES, INF_STORE and SYSTEM_FOLDER).
# shellcheck disable=SC2034 # read by machine_state in the machine files
STATE_DUMP_ARGUMENTS=(
  key 'HKLM\Software\Orvix'
  key 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\qnetprep'
  key 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumora'
  files "$PROGRAM_FILES\\Orvix" files "$PROGRAM_FILES\\Orvix\\qnetprep"
  files "$INF_STORE" file "$SYSTEM_FOLDER\\qnetprep.exe"
  devices service RX90K
)

# normalize_state <raw dump> <dump of the INF store at the start>
normalize_state() {
  local raw=$1 baseline=$2 line
  local -a sed_args=()
  while IFS= read -r line; do
    case $line in "file $INF_STORE\\"*) ;; *) continue ;; esac
    grep -qxF -- "$line" "$baseline" && continue
    local path=${line#file } name
    path=${path% size=*}
    name=${path##*\\}
    case ${name,,} in *.inf) ;; *) continue ;; esac
    local source label=""
    for source in "$(linux_path 'C:\pkg')"/*.inf "$QNETPREP_SOURCE_DIR"/sample/package/*.inf; do
      if [ -f "$source" ] && cmp -s "$source" "$(linux_path "$path")"; then
        label=${source##*/}
        break
      fi
    done
    [ -n "$label" ] || continue
    local pnf=${path%.*}.pnf
    sed_args+=(-e "s|^file $(sed_literal "$pnf") size=[0-9]*|file {PNF of $label} size=*|I")
    sed_args+=(-e "s|^file $(sed_literal "$path") |file {stored $label} |")
    sed_args+=(-e "s|\"$(sed_literal "${path//\\/\\\\}")\"+NUL\\*[0-9]*|\"{stored $label}\"+NUL*...|I")
  done <"$raw"

  {
    grep -vxF -f "$baseline" "$raw" || true
    grep -vxF -f "$raw" "$baseline" | sed 's/^/lost /' || true
  } | if ((${#sed_args[@]})); then sed "${sed_args[@]}"; else cat; fi | LC_ALL=C sort
}

# Escapes a text for use as a literal in a sed pattern delimited by |.
sed_literal() {
  printf '%s' "$1" | sed -e 's/[]\/$*.^|[]/\\&/g'
}
