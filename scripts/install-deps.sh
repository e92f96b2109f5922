#!/usr/bin/env bash
# Installs the Debian packages Halvern needs to build, test and run. Quiet when all are present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev zlib1g-dev libcairo2-dev libfontconfig-dev fonts-liberation fonts-dejavu-core libx11-dev
  libsndfile1-dev libfftw3-dev libaubio-dev libsmf-dev libcli11-dev
  clang libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev
  wine wine64 xvfb xdotool x11-utils
  lv2-dev liblilv-dev lilv-utils sordi lv2file
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
