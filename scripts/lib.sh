# shellcheck shell=bash
# Shared by the scripts: the source root and the Debian 12 packages they need.
# Source it from bash: . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

DRAVMEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Build tools, the test framework, the MinGW-w64 cross compilers and a
# 64-bit Wine.
DRAVMEL_PACKAGES=(cmake make g++ libgtest-dev googletest python3 mingw-w64 wine wine64)

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
# current folder).
build_presets() {
  local preset
  for preset in "$@"; do
    echo "== build: $preset"
    (cd "$DRAVMEL_ROOT" && cmake --preset "$preset" && cmake --build --preset "$preset" -j"$(nproc)")
  done
}
