#!/usr/bin/env bash
# Installs the Debian packages Halvern needs, by what they are needed for. Quiet when all are
# present.
#   scripts/install-deps.sh [build] [check] [tests] [windows]   (default: build)
#     build    the plug-ins and the renderer, and the fonts their pictures are drawn with
#     check    lv2ls and lv2info, to see what LV2 hosts see after installing
#     tests    the test suite, the benchmarks, the sanitizer and fuzzing builds
#     windows  the cross compilers and wine for the Windows builds and their tests
set -euo pipefail

sets=("$@")
[ ${#sets[@]} -eq 0 ] && sets=(build)

packages=()
for set in "${sets[@]}"; do
  case "$set" in
    build)
      packages+=(build-essential cmake pkg-config
        libpng-dev zlib1g-dev libcairo2-dev libfontconfig-dev libx11-dev lv2-dev
        libsndfile1-dev libaubio-dev libsmf-dev libcli11-dev
        fonts-liberation fonts-dejavu-core) ;;
    check)
      packages+=(lilv-utils) ;;
    tests)
      packages+=(git googletest libgtest-dev libgmock-dev libbenchmark-dev libfftw3-dev
        clang libclang-rt-14-dev xvfb xdotool x11-utils
        liblilv-dev lilv-utils sordi lv2file sox) ;;
    windows)
      packages+=(mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
        dpkg-dev wine wine64 xvfb xdotool x11-utils) ;;
    *)
      echo "install-deps.sh: unknown set $set (build, check, tests or windows)" >&2
      exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
mapfile -t missing < <(printf '%s\n' "${missing[@]}" | sort -u)

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
