#!/usr/bin/env bash
# Configures and builds Halvern into ./build (or $HALVERN_BUILD_DIR); arguments go to the
# configure step, e.g. -DHALVERN_BUILD_TESTS=OFF.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${HALVERN_BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
