#!/usr/bin/env bash
# The longer fuzz run: installs what is missing (Debian 12), builds the
# preset asan, replays the seed corpus and runs the fuzz target for SECONDS
# (default 600). What a run finds new stays in build/asan/fuzz/work/<name>
# for the next run; a crash leaves its input in build/asan/fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

seconds=${1:-600}
case $seconds in
  '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

ensure_packages
build_presets asan
cd "$DRAVMEL_ROOT"
ctest --preset asan -j"$(nproc)" -L fuzz
run_fuzzers "$seconds"
