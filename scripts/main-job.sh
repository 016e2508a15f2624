#!/usr/bin/env bash
# The main job: installs what is missing (Debian 12), builds the shipped
# programs with MinGW-w64, collects them in dist/ and, under Wine in a fresh
# prefix, has Dravmelx64.exe install and remove the sample driver package
# (sample/x64), then restarts the prefix to show that nothing is left; then
# Dravmelx86.exe, through the 32-bit route to Wine, installs and removes
# sample/x86.
# Usage: scripts/main-job.sh
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ensure_packages
build_presets mingw-x64 mingw-x86

echo "== dist"
dist=$DRAVMEL_ROOT/dist
rm -rf "$dist"
mkdir -p "$dist"
cp "$DRAVMEL_ROOT/build/mingw-x64/src/Dravmelx64.exe" "$DRAVMEL_ROOT/build/mingw-x86/src/Dravmelx86.exe" "$dist/"
# The builds are reproducible: these sums are the same for every build of a commit.
(cd "$dist" && sha256sum Dravmelx64.exe Dravmelx86.exe >SHA256SUMS)
ls -l "$dist"
cat "$dist/SHA256SUMS"

echo "== under Wine"
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
template=$DRAVMEL_ROOT/build/main-job/wine-prefix-template
"$DRAVMEL_ROOT/tests/wine/make-prefix-template.sh" "$wine64" "$template"
# Dravmelx86.exe through the 32-bit route, in a WoW64 prefix.
ensure_wine32
template32=$DRAVMEL_ROOT/build/main-job/wine32-prefix-template
"$DRAVMEL_ROOT/tests/wine/make-prefix-template.sh" "$DRAVMEL_WINE32" "$template32"
python3 -B "$DRAVMEL_ROOT/scripts/wine_demo.py" --wine64 "$wine64" --template "$template" \
  --tool "$DRAVMEL_ROOT/build/mingw-x64/tests/tools/wintool.exe" --dist "$dist" \
  --package "$DRAVMEL_ROOT/sample/x64" \
  --wine32 "$DRAVMEL_WINE32" --template32 "$template32" --package32 "$DRAVMEL_ROOT/sample/x86"
