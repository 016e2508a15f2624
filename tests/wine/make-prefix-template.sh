#!/usr/bin/env bash
# Makes the Wine prefix that every Wine test starts from as a copy.
# Usage: make-prefix-template.sh WINE64 DIR
set -euo pipefail
rm -rf "$2" && mkdir -p "$(dirname "$2")"
export WINEPREFIX=$2 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY
"$1" wineboot.exe --init >/dev/null 2>&1
"$(command -v wineserver || echo /usr/lib/wine/wineserver)" -w
test -f "$2/system.reg"
