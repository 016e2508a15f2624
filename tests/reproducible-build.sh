#!/usr/bin/env bash
# Builds both programs again from a copy of the tracked sources in another
# folder, with the same presets, and compares them byte for byte with the
# programs already built.
# Usage: reproducible-build.sh SOURCE_DIR DRAVMELX64_EXE DRAVMELX86_EXE
set -euo pipefail
copy=$(mktemp -d "${TMPDIR:-/tmp}/dravmel-repro.XXXXXX")
trap 'rm -rf "$copy"' EXIT
git -C "$1" ls-files -z | tar -C "$1" --null -T - -cf - | tar -C "$copy" -xf -

# PRESET PROGRAM BUILT_EXE
same() {
  (cd "$copy" && cmake --preset "$1" >/dev/null && cmake --build --preset "$1" --target "$2" -j2 >/dev/null)
  cmp "$copy/build/$1/src/$2.exe" "$3"
  echo "$2.exe: the same bytes from $copy"
}
same mingw-x64 Dravmelx64 "$2"
same mingw-x86 Dravmelx86 "$3"
