#!/usr/bin/env bash
# Boots the Wine prefix that the scenarios copy (cp -a takes about 3 s, a boot about 7 s),
# unless the folder already holds one booted by this Wine version:
#
#   tests/wine/prefix_template.sh <template folder>
#
# Nothing ever runs in the template itself: each scenario runs in its own copy.
set -euo pipefail

template=${1:?usage: prefix_template.sh <template folder>}
WINE=${WINE:-wine}
WINESERVER=${WINESERVER:-wineserver}
WINEBOOT=${WINEBOOT:-wineboot}

version=$("$WINE" --version 2>/dev/null)
stamp=$template/qnetprep-template-stamp
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ]; then
  echo "template prefix ready: $template ($version)"
  exit 0
fi

rm -rf "$template" "$template.new"
mkdir -p "$(dirname "$template")"
export WINEPREFIX=$template.new WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$WINEBOOT" -i >"$template.boot.log" 2>&1 || {
  cat "$template.boot.log" >&2
  exit 1
}
# The registry reaches the prefix's files only when its server ends.
"$WINESERVER" -w
echo "$version" >"$WINEPREFIX/qnetprep-template-stamp"
mv "$WINEPREFIX" "$template"
rm -f "$template.boot.log"
echo "template prefix booted: $template ($version)"
