#!/usr/bin/env bash
# Installs what is missing, builds, and runs the plug-in as a host would.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
build_dir="${HALVERN_BUILD_DIR:-build}"
"$build_dir/tools/halvern-selfcheck"
