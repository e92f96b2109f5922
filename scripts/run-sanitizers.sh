#!/usr/bin/env bash
# Runs the test suite under AddressSanitizer + UndefinedBehaviorSanitizer (build-asan) and the
# threading test under ThreadSanitizer (build-tsan). No suppressions for our own code; the leak
# suppressions name system libraries only (scripts/lsan.supp).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build tests
jobs="$(nproc)"

asan="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow -fno-omit-frame-pointer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVERN_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS="$asan" -DCMAKE_CXX_FLAGS="$asan" \
  -DCMAKE_EXE_LINKER_FLAGS="$asan" -DCMAKE_MODULE_LINKER_FLAGS="$asan" \
  -DCMAKE_SHARED_LINKER_FLAGS="$asan" >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions="$PWD/scripts/lsan.supp" \
  HALVERN_HOSTILE_RUNS=200 ctest --test-dir build-asan --output-on-failure -j "$jobs"

tsan="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVERN_BUILD_BENCH=OFF \
  -DHALVERN_BUILD_TOOLS=ON -DCMAKE_C_FLAGS="$tsan" -DCMAKE_CXX_FLAGS="$tsan" \
  -DCMAKE_EXE_LINKER_FLAGS="$tsan" -DCMAKE_MODULE_LINKER_FLAGS="$tsan" \
  -DCMAKE_SHARED_LINKER_FLAGS="$tsan" >/dev/null
cmake --build build-tsan -j "$jobs" --target test_threads test_dump_handoff
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -R '^test_(threads|dump_handoff)$'
