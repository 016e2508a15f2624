# shellcheck shell=bash
# Shared by the scripts: the source root and the Debian 12 packages they need.
# Source it from bash: . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

DRAVMEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Build tools, the test framework, the MinGW-w64 cross compilers, a
# 64-bit Wine, and for the reliability runs clang with its sanitizer and
# libFuzzer runtimes, and valgrind.
DRAVMEL_PACKAGES=(cmake make g++ libgtest-dev googletest python3 mingw-w64 wine wine64
                  clang libclang-rt-14-dev valgrind)

# Runs a command as root: directly when root, else through sudo.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "error: need root or sudo to run: $*" >&2
    return 1
  fi
}

# Installs whichever of DRAVMEL_PACKAGES is missing; touches apt only then.
ensure_packages() {
  local missing=() pkg
  for pkg in "${DRAVMEL_PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$'; then
      missing+=("$pkg")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "== installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# Configures and builds the given presets (cmake finds presets in the
# current folder); stops at the first that fails.
build_presets() {
  local preset
  for preset in "$@"; do
    echo "== build: $preset"
    (cd "$DRAVMEL_ROOT" && cmake --preset "$preset" && cmake --build --preset "$preset" -j"$(nproc)") || return 1
  done
}

# Runs each fuzz target of the asan preset (fuzz/) for the given seconds,
# from its seed corpus (fuzz/corpus/<name>) and what earlier runs found
# (build/asan/fuzz/work/<name>, never the repository). A crash leaves its
# input in build/asan/fuzz/artifacts/. Fails when any target did.
run_fuzzers() {
  local seconds=$1 build=$DRAVMEL_ROOT/build/asan/fuzz name failed=0
  for name in command_line machine; do
    mkdir -p "$build/work/$name" "$build/artifacts"
    echo "== fuzz: $name for $seconds s"
    if ! "$build/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
         -artifact_prefix="$build/artifacts/$name-" "$build/work/$name" "$DRAVMEL_ROOT/fuzz/corpus/$name" \
         >"$build/$name.log" 2>&1; then
      tail -n 40 "$build/$name.log"
      echo "FAILED: fuzz_$name (reproducer: $build/artifacts/$name-*)"
      failed=1
    fi
    grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)|DONE" "$build/$name.log" || true
  done
  [ "$failed" -eq 0 ]
}
