#!/usr/bin/env bash
# From the sources to your hosts in one step: installs what is missing to build (Debian
# packages, through sudo when not root), builds the plug-ins and the renderer, and installs them
# for you where hosts find them: LV2 into ~/.lv2, VST 2.x into ~/.vst, the renderer into
# ~/.local/bin. With --system, for everyone, into /usr/local/lib/lv2, /usr/local/lib/vst and
# /usr/local/bin. The installing is scripts/install-files.sh, the release archive's install.sh.
#   scripts/install-user.sh [--system]
set -euo pipefail
cd "$(dirname "$0")/.."
for arg in "$@"; do
  case "$arg" in
    --system) ;;
    *) echo "usage: scripts/install-user.sh [--system]" >&2; exit 2 ;;
  esac
done

scripts/install-deps.sh build check
build_dir="${HALVERN_BUILD_DIR:-build}"
# A build folder of a developer's keeps its settings; a new one builds no tests.
if [ -f "$build_dir/CMakeCache.txt" ]; then
  scripts/build.sh
else
  scripts/build.sh -DHALVERN_BUILD_TESTS=OFF -DHALVERN_BUILD_BENCH=OFF
fi

stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cmake --install "$build_dir" --prefix "$stage" --strip >/dev/null
scripts/install-files.sh "$@" "$stage"
