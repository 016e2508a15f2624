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

# The libFuzzer targets of the fuzz preset (fuzz/), each with its seed
# corpus in fuzz/corpus/<target>.
DRAVMEL_FUZZ_TARGETS=(fuzz_command_line fuzz_machine)

# Runs each fuzz target for the given seconds, from its seed corpus and what
# earlier runs found (build/fuzz/work/<target>, never the repository). A
# crash leaves its input in build/fuzz/artifacts/. Prints libFuzzer's final
# figures per target; fails when any target did.
run_fuzzers() {
  local seconds=$1 build=$DRAVMEL_ROOT/build/fuzz target passed=0 failed=0
  mkdir -p "$build/artifacts" "$build/logs"
  for target in "${DRAVMEL_FUZZ_TARGETS[@]}"; do
    local work=$build/work/$target log=$build/logs/$target.log
    mkdir -p "$work"
    echo "== fuzz: $target for $seconds s"
    if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
         -artifact_prefix="$build/artifacts/$target-" "$work" "$DRAVMEL_ROOT/fuzz/corpus/$target" >"$log" 2>&1; then
      passed=$((passed + 1))
      fuzz_figures "$log"
    else
      failed=$((failed + 1))
      tail -n 80 "$log"
      echo "FAILED: $target (log: $log; reproducer: $build/artifacts/$target-*)"
    fi
  done
  echo "fuzz: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# One line of figures from a libFuzzer log: coverage once the corpus ran
# (INITED) and at the end (DONE), executions and their rate.
fuzz_figures() {
  local log=$1
  awk '
    /inline 8-bit counters/ { for (i = 1; i <= NF; i++) if ($i == "inline") total = $(i - 1); sub(/^\(/, "", total) }
    /\tINITED / { for (i = 1; i <= NF; i++) if ($i == "cov:") seed_cov = $(i + 1) }
    /\tDONE /   { for (i = 1; i <= NF; i++) { if ($i == "cov:") cov = $(i + 1); if ($i == "ft:") ft = $(i + 1); if ($i == "corp:") corp = $(i + 1) } }
    /^stat::number_of_executed_units:/ { runs = $2 }
    /^stat::average_exec_per_sec:/ { rate = $2 }
    /^stat::new_units_added:/ { added = $2 }
    END { printf "   runs %s, %s exec/s, coverage %s of %s edges (%s from the corpus), %s features, corpus %s (inputs/bytes), %s new\n", runs, rate, cov, total, seed_cov, ft, corp, added }
  ' "$log"
}
