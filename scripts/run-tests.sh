#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build tests
scripts/build.sh -DHALVERN_BUILD_TESTS=ON -DHALVERN_BUILD_BENCH=ON
build_dir="${HALVERN_BUILD_DIR:-build}"
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)"
