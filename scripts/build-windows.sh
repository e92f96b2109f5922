#!/usr/bin/env bash
# Cross-builds the Windows plug-ins with Debian's mingw-w64 compilers:
#   build-windows/i686/Halvern.dll, HalvernLive.dll     32-bit hosts
#   build-windows/x86_64/Halvern.dll, HalvernLive.dll   64-bit hosts
# and, in each folder, the Windows test host (tests/windows/). libpng is built first from
# Debian's source package and cached in build-windows/ (scripts/build-libpng-windows.sh).
#   scripts/build-windows.sh [i686|x86_64]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
top="$PWD"
arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(i686 x86_64)

scripts/build-libpng-windows.sh "${arches[@]}"

for arch in "${arches[@]}"; do
  toolchain="$top/cmake/$arch-w64-mingw32.cmake"
  export HALVERN_WINDOWS_PREFIX="$top/build-windows/deps/$arch"
  build="build-windows/$arch"
  cmake -S . -B "$build/plugin" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/plugin" -j 2 --target Halvern HalvernLive
  cp "$build/plugin/shell/Halvern.dll" "$build/plugin/shell/HalvernLive.dll" "$build/"
  cmake -S tests/windows -B "$build/tests" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build/tests" -j 2
  cp "$build/tests/halvern-wintest.exe" "$build/halvern-wintest.exe"
done
