#!/usr/bin/env bash
# The test command: installs what is missing (Debian 12), builds the presets
# mingw-x64, mingw-x86 and host, and runs every test with ctest.
# Usage: scripts/test.sh [CTEST_ARG...]   e.g. -R e2e_ or -L wine
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ensure_packages
# The host tests run the MinGW builds under Wine, so those come first.
build_presets mingw-x64 mingw-x86 host

echo "== test"
cd "$DRAVMEL_ROOT"
ctest --preset host -j"$(nproc)" "$@"
