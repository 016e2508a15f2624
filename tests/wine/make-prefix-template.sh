#!/usr/bin/env bash
# Makes the Wine prefix that every Wine test starts from as a copy.
# Usage: make-prefix-template.sh WINE64 DIR
set -euo pipefail
wine64=$1
dir=$2
rm -rf "$dir"
mkdir -p "$(dirname "$dir")"
export WINEPREFIX=$dir WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
"$wine64" wineboot.exe --init >/dev/null 2>&1
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -w
test -f "$dir/system.reg"
