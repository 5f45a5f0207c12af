#!/usr/bin/env bash
# Installs what is missing, builds every variant and runs every test: the unit,
# scenario and reliability tests on the simulated machine (plain, then again with
# AddressSanitizer and UndefinedBehaviorSanitizer: everything but the Wine tests), the
# end-to-end tests of the Windows build under Wine, the coverage run that
# fails on a simulated function nothing runs, clang-format and clang-tidy, and the column
# limit of every source.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

jobs=$(nproc)
for preset in windows windows-x86 native native-sanitize; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
# A kernel may refuse 32-bit programs ("Exec format error"): there the x86 build cannot run under Wine.
skip32=()
if [[ "$(wine --version 2>&1)" == *"Exec format error"* ]]; then
  echo "This machine does not run 32-bit programs: the x86 build's Wine tests are left out."
  skip32=(-E '^wine[.]x86[.]')
fi
ctest --preset native -j "$jobs" "${skip32[@]}" || status=1
ctest --preset native-sanitize -j "$jobs" || status=1
scripts/coverage.sh || status=1
# The C++ sources as .clang-format writes them, and no finding of .clang-tidy's checks in the logic.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror || status=1
git ls-files app devices install cleanup package records platform/text.cpp | grep '[.]cpp$' |
  xargs -P "$jobs" -n 4 clang-tidy -p build/native --quiet 2> >(grep -v ' warnings\? generated[.]$' >&2) ||
  status=1
# Tests and scripts keep the 110 columns of .clang-format, as the code does.
long=$(git ls-files '*.cpp' '*.h' '*.py' '*.sh' '*.cmake' CMakeLists.txt '*/CMakeLists.txt' .ci/run |
  xargs awk 'length > 110 { print FILENAME ":" FNR }')
[ -z "$long" ] || { echo "Lines over 110 columns:"; echo "$long"; status=1; }
exit "$status"
