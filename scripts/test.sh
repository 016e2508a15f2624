#!/usr/bin/env bash
# The test command: installs what is missing (Debian 12), then runs two
# stages and prints the time of each: "wine" sets up the 32-bit route to Wine
# (cached), builds the presets mingw-x64, mingw-x86 and wine, checks that
# both programs come out the same bytes when built again from a copy of the
# sources in another folder, and runs every test with ctest (the host tests, the Wine tests of both programs and the
# unit tests under valgrind among them); "asan" builds the host tests and the
# fuzz targets with AddressSanitizer and UBSan, runs them with ctest (the
# fuzz target on its seed corpus), then fuzzes the target for
# DRAVMEL_FUZZ_SECONDS (5). Every stage runs; the command fails when any did.
# Usage: scripts/test.sh [CTEST_ARG...]   e.g. -R e2e_ or -L wine
# With CTEST_ARGs only the wine stage runs, with them.
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

ensure_packages
cd "$DRAVMEL_ROOT"

ctest_args=("$@")
fuzz_seconds=${DRAVMEL_FUZZ_SECONDS:-5}

wine_stage() {
  # The Wine tests run the MinGW builds, so those come first; the 32-bit
  # program runs through the route that ensure_wine32 makes.
  ensure_wine32 && export DRAVMEL_WINE32 &&
    build_presets mingw-x64 mingw-x86 wine && check_reproducible && ctest --preset wine -j"$(nproc)" "${ctest_args[@]}"
}
asan_stage() { build_presets asan && ctest --preset asan -j"$(nproc)" && run_fuzzers "$fuzz_seconds"; }

results=()
failures=0
# Runs a stage, times it and notes how it ended.
stage() {
  local name=$1 start=$SECONDS
  echo "== stage: $name"
  if "$2"; then
    results+=("$name: passed in $((SECONDS - start)) s")
  else
    results+=("$name: FAILED in $((SECONDS - start)) s")
    failures=$((failures + 1))
  fi
}

stage "wine: build mingw-x64, mingw-x86, wine; ctest" wine_stage
if [ ${#ctest_args[@]} -eq 0 ]; then
  stage "asan: build; ctest; $fuzz_seconds s per fuzz target" asan_stage
fi

echo "== stages"
printf '%s\n' "${results[@]}"
echo "stages: $((${#results[@]} - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
