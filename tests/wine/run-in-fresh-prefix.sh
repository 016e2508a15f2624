#!/usr/bin/env bash
# Runs one command in a fresh copy of the template prefix and removes the
# copy afterwards. The command sees WINEPREFIX and WINE64 in its environment.
# Usage: run-in-fresh-prefix.sh WINE64 TEMPLATE COMMAND [ARG...]
set -uo pipefail
export WINE64=$1 WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/dravmel-wine.XXXXXX")
cp -a "$2/." "$WINEPREFIX/"
unset DISPLAY WAYLAND_DISPLAY
shift 2
"$@"
rc=$?
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -k >/dev/null 2>&1; "$wineserver" -w >/dev/null 2>&1
rm -rf "$WINEPREFIX"
exit $rc
