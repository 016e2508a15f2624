#!/usr/bin/env bash
# The benchmark command (README "Performance"): installs what is missing
# (Debian 12), builds the bench preset (the program and the untraced program
# against winsim, and with MinGW-w64 for Wine), prints one table and exits 1
# when a target is missed.
# Usage: scripts/bench.sh [--rounds N] [--no-wine]
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# Only the table goes to standard output.
ensure_packages >&2
build_presets bench >&2

wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
template=$DRAVMEL_ROOT/build/bench/wine-prefix-template
if [ ! -f "$template/system.reg" ] || [ "$(readlink -f "$wine64")" -nt "$template/system.reg" ]; then
  echo "== Wine template prefix" >&2
  "$DRAVMEL_ROOT/tests/wine/make-prefix-template.sh" "$wine64" "$template" >&2
fi

exec python3 -B "$DRAVMEL_ROOT/bench/bench.py" "$DRAVMEL_ROOT/build/bench" "$wine64" "$template" \
  "$DRAVMEL_ROOT/sample/x64" "$@"
