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
# Windows x64 loads every driver in its 64-bit kernel; Wine hosts a driver
# service that a 32-bit program created in a 32-bit device host, which under
# qemu at times hangs in starting a driver and keeps its service open. A
# WoW64 prefix gets the 64-bit host in that place too.
wow64=$2/drive_c/windows/syswow64
if [ -f "$wow64/winedevice.exe" ]; then
  cp "$2/drive_c/windows/system32/winedevice.exe" "$wow64/winedevice.exe"
fi
