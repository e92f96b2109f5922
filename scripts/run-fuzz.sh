#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer + AddressSanitizer + UBSan) and runs each for a
# bounded time: the VST 2.x host interface (Halvern and Halvern Live) over the corpus kept in
# tests/fuzz/corpus, then Halvern's LV2 entry points, then Halvern Live's for a third of the time.
# Usage: scripts/run-fuzz.sh [seconds]   (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build tests
seconds="${1:-60}"
build_dir="${HALVERN_FUZZ_BUILD_DIR:-build-fuzz}"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g"
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHALVERN_FUZZ=ON -DHALVERN_BUILD_TESTS=OFF -DHALVERN_BUILD_BENCH=OFF -DHALVERN_BUILD_TOOLS=OFF \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" --target fuzz_host_interface fuzz_lv2 fuzz_lv2_live
# New inputs go to a scratch folder; the committed corpus is only read.
scratch="$build_dir/corpus-new"
mkdir -p "$scratch"
"$build_dir/tests/fuzz/fuzz_host_interface" -max_total_time="$seconds" -print_final_stats=1 \
  -max_len=4096 -len_control=0 -timeout=20 "$scratch" tests/fuzz/corpus
mkdir -p "$build_dir/corpus-lv2"
"$build_dir/tests/fuzz/fuzz_lv2" -max_total_time="$seconds" -print_final_stats=1 \
  -max_len=4096 -len_control=0 -timeout=20 "$build_dir/corpus-lv2"
mkdir -p "$build_dir/corpus-lv2-live"
"$build_dir/tests/fuzz/fuzz_lv2_live" -max_total_time="$(((seconds + 2) / 3))" -print_final_stats=1 \
  -max_len=4096 -len_control=0 -timeout=20 "$build_dir/corpus-lv2-live"
