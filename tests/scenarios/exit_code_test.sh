#!/bin/sh
# Runs the built program as a process on a fresh machine: every mode ends with exit
# code 1 and leaves the machine saved, and a damaged machine stops the program
# without being overwritten.
# Usage: exit_code_test.sh <path of the built qnetprep>
set -u
exe=$1
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
machine="$work/machine"
mkdir -p "$machine/drive_c/pkg"
failed=0

fail() {
  echo "FAIL: $*"
  failed=1
}

run() {
  (cd "$machine/drive_c/pkg" && QNETPREP_MACHINE="$machine" "$exe" "$@" >"$work/stdout" 2>"$work/stderr")
}

for args in "" "/au" "/u" "/inf=net7341a.inf"; do
  # shellcheck disable=SC2086 # the arguments are meant to split
  run $args
  rc=$?
  [ "$rc" -eq 1 ] || fail "'$args' ended with exit code $rc, not 1: $(cat "$work/stderr")"
  [ -f "$machine/registry.reg" ] || fail "'$args' left no registry.reg"
  head -n 1 "$machine/registry.reg" | grep -q '^REGEDIT4' || fail "'$args' wrote a registry.reg without its header"
  leftovers=$(find "$machine" -maxdepth 1 -name '*.tmp-*')
  [ -z "$leftovers" ] || fail "'$args' left temporary files: $leftovers"
done

printf 'not a registry\n' >"$machine/registry.reg"
run
rc=$?
[ "$rc" -eq 2 ] || fail "a damaged registry.reg gave exit code $rc, not 2"
[ "$(cat "$machine/registry.reg")" = "not a registry" ] || fail "the damaged registry.reg was overwritten"

[ "$failed" -eq 0 ] && echo "ok"
exit "$failed"
