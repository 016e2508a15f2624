# shellcheck shell=bash
# Shared by the scripts: the source root and the Debian 12 packages they need.
# Source it from bash: . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

DRAVMEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Build tools, the test framework, the MinGW-w64 cross compilers, a
# 64-bit Wine, qemu's user-mode emulator and MinGW's zlib for the 32-bit
# route to Wine (ensure_wine32), and for the reliability runs clang with its
# sanitizer and libFuzzer runtimes, and valgrind.
DRAVMEL_PACKAGES=(cmake make g++ libgtest-dev googletest python3 mingw-w64 wine wine64
                  qemu-user-static libz-mingw-w64 clang libclang-rt-14-dev valgrind)

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

# The 32-bit route to Wine on machines that run no 32-bit code natively:
# Debian's wine32:i386 of the installed Wine version and what it needs,
# unpacked (not installed) into a private root, its 32-bit loader run by
# qemu-i386-static, beside a private copy of wine64. Made once into a cache
# outside the source tree and reused; sets DRAVMEL_WINE32 to that wine64,
# whose prefixes are WoW64 prefixes: Wine's own processes run natively, the
# 32-bit programs under qemu.
ensure_wine32() {
  local cache=${DRAVMEL_WINE32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/dravmel/wine32}
  local version root=$cache/root loader=$cache/wine/lib/wine apt=(-o APT::Architectures=amd64,i386) deb
  version=$(dpkg-query -W -f='${Version}' wine64)
  DRAVMEL_WINE32=$loader/wine64
  if [ "$(cat "$cache/version" 2>/dev/null)" = "$version" ]; then
    return 0
  fi
  echo "== 32-bit Wine $version into $cache"
  rm -rf "$cache" && mkdir -p "$cache/debs" "$root" "$loader" "$cache/wine/lib/x86_64-linux-gnu/wine" \
    "$cache/wine/share" || return 1
  # The i386 package lists are fetched for this only; a plain update drops them.
  as_root apt-get "${apt[@]}" update >/dev/null || return 1
  (set -o pipefail; cd "$cache/debs" && apt-get "${apt[@]}" -s --no-install-recommends install "wine32:i386=$version" |
     awk '/^Inst .*:i386 /{print $2}' | xargs apt-get "${apt[@]}" -o APT::Sandbox::User=root download >/dev/null)
  local fetched=$?
  as_root apt-get update >/dev/null
  [ "$fetched" -eq 0 ] || return 1
  for deb in "$cache"/debs/*.deb; do dpkg-deb -x "$deb" "$root" || return 1; done
  rm -rf "$cache/debs"
  # libwine's install script would write this zlib1.dll, marked as a Wine
  # built-in: MinGW's, with the mark after its first 64 bytes.
  { head -c 64 /usr/i686-w64-mingw32/lib/zlib1.dll; printf 'Wine builtin DLL'; head -c 16 /dev/zero
    tail -c +97 /usr/i686-w64-mingw32/lib/zlib1.dll; } >"$root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll"
  # Wine finds its libraries, data and server from its loader's folder and
  # starts other processes through the "wine" (32-bit) and "wine64" there.
  # wine64 is a copy (Wine resolves links to their target); "wine" is a
  # script that runs the 32-bit loader under qemu with "wine" for its name.
  # Without WINELOADERNOEXEC that loader re-executes itself natively;
  # without the reserved address space qemu takes a minute to start it.
  cp /usr/lib/wine/wine64 "$loader/wine64"
  cp "$root/usr/lib/wine/wine" "$loader/wine.elf"
  ln -s /usr/lib/wine/wineserver64 "$loader/wineserver"
  ln -s /usr/lib/x86_64-linux-gnu/wine/x86_64-unix /usr/lib/x86_64-linux-gnu/wine/x86_64-windows \
    "$root/usr/lib/i386-linux-gnu/wine/i386-windows" "$cache/wine/lib/x86_64-linux-gnu/wine/"
  ln -s "$root/usr/lib/i386-linux-gnu" "$cache/wine/lib/i386-linux-gnu"
  ln -s /usr/share/wine "$cache/wine/share/wine"
  printf '#!/bin/sh\nexport WINELOADERNOEXEC=1 QEMU_RESERVED_VA=0x81000000\nexec qemu-i386-static -L %s -0 %s %s "$@"\n' \
    "$root" "$loader/wine" "$loader/wine.elf" >"$loader/wine"
  chmod +x "$loader/wine"
  echo "$version" >"$cache/version"
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

# Runs the fuzz target of the asan preset (fuzz/) for the given seconds,
# from its seed corpus (fuzz/corpus/machine) and what earlier runs found
# (build/asan/fuzz/work/machine, never the repository). A crash leaves its
# input in build/asan/fuzz/artifacts/.
run_fuzzers() {
  local seconds=$1 build=$DRAVMEL_ROOT/build/asan/fuzz name=machine
  mkdir -p "$build/work/$name" "$build/artifacts"
  echo "== fuzz: $name for $seconds s"
  if ! "$build/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$name-" "$build/work/$name" "$DRAVMEL_ROOT/fuzz/corpus/$name" \
       >"$build/$name.log" 2>&1; then
    tail -n 40 "$build/$name.log"
    echo "FAILED: fuzz_$name (reproducer: $build/artifacts/$name-*)"
    return 1
  fi
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)|DONE" "$build/$name.log" || true
}

# Builds both programs again from a copy of the tracked sources in another
# folder, with the same presets, and compares them byte for byte with the
# builds of the presets mingw-x64 and mingw-x86: a commit's programs must be
# the same bytes wherever it is built.
check_reproducible() {
  local copy preset program failed=0
  copy=$(mktemp -d "${TMPDIR:-/tmp}/dravmel-repro.XXXXXX")
  git -C "$DRAVMEL_ROOT" ls-files -z | tar -C "$DRAVMEL_ROOT" --null -T - -cf - | tar -C "$copy" -xf -
  for preset in mingw-x64:Dravmelx64 mingw-x86:Dravmelx86; do
    program=${preset#*:}.exe
    preset=${preset%%:*}
    echo "== reproducible: $program"
    if (cd "$copy" && cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" \
          --target "${program%.exe}" -j"$(nproc)" >/dev/null) &&
       cmp "$copy/build/$preset/src/$program" "$DRAVMEL_ROOT/build/$preset/src/$program"; then
      echo "$program: the same bytes when built in $copy"
    else
      echo "FAILED: $program built in $copy differs or did not build"
      failed=1
    fi
  done
  rm -rf "$copy"
  [ "$failed" -eq 0 ]
}
