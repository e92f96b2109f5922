#!/usr/bin/env bash
# Builds libpng as a static library for each Windows target from Debian's own source package,
# since Debian ships zlib for mingw-w64 but no libpng. Source and results are cached under
# build-windows/ (libpng-src/, deps/<arch>/); a target that is already built is skipped.
#   scripts/build-libpng-windows.sh [i686|x86_64]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
top="$PWD"
out="$top/build-windows"
arches=("$@")
[ ${#arches[@]} -eq 0 ] && arches=(i686 x86_64)

pending=()
for arch in "${arches[@]}"; do
  [ -f "$out/deps/$arch/lib/libpng16.a" ] || pending+=("$arch")
done
[ ${#pending[@]} -eq 0 ] && exit 0

# apt-get source unpacks into the current folder; the newest version first, then whatever
# apt-cache showsrc offers when a mirror no longer serves that one.
src_root="$out/libpng-src"
mkdir -p "$src_root"
src="$(find "$src_root" -maxdepth 1 -type d -name 'libpng1.6-*' | sort | tail -n 1)"
if [ -z "$src" ]; then
  (
    cd "$src_root"
    if ! apt-get source -qq libpng1.6 >/dev/null 2>apt-source.log; then
      fetched=0
      for version in $(apt-cache showsrc libpng1.6 | sed -n 's/^Version: //p'); do
        if apt-get source -qq "libpng1.6=$version" >/dev/null 2>>apt-source.log; then
          fetched=1
          break
        fi
      done
      if [ "$fetched" -eq 0 ]; then
        cat apt-source.log >&2
        echo "build-libpng-windows.sh: cannot fetch libpng1.6's source" \
             "(are deb-src entries enabled? scripts/install-windows-deps.sh does that)" >&2
        exit 1
      fi
    fi
  )
  src="$(find "$src_root" -maxdepth 1 -type d -name 'libpng1.6-*' | sort | tail -n 1)"
fi
echo "libpng for Windows from $(basename "$src"): ${pending[*]}"

for arch in "${pending[@]}"; do
  build="$out/libpng-build/$arch"
  cmake -S "$src" -B "$build" \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$out/deps/$arch" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DPNG_HARDWARE_OPTIMIZATIONS=OFF -Dld-version-script=OFF >"$out/libpng-$arch.log" 2>&1 ||
    { cat "$out/libpng-$arch.log" >&2; exit 1; }
  cmake --build "$build" -j 2 >>"$out/libpng-$arch.log" 2>&1 &&
    cmake --install "$build" >>"$out/libpng-$arch.log" 2>&1 ||
    { tail -n 40 "$out/libpng-$arch.log" >&2; exit 1; }
done
