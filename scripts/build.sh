#!/usr/bin/env bash
# Builds the three trees: build/host (packer, sanitized core tests),
# build/win32 and build/win64 (the launcher stub, its unit tests, test helpers).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
jobs="$(nproc 2>/dev/null || echo 2)"

configure() {  # dir [toolchain]
  local dir="$1"; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DLAUNCHER_WERROR=ON "$@" >/dev/null
  fi
}
configure build/host
configure build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
configure build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake"
for dir in build/host build/win32 build/win64; do
  echo "build: $dir"
  cmake --build "$dir" -j "$jobs"
done
bash java/build.sh  # build/host/tvxruntime.jar, the project's own Java runtime
