#!/usr/bin/env bash
# Builds everything and runs every test twice: optimised, and under AddressSanitizer
# with UndefinedBehaviorSanitizer; then the tests of threaded code (named "threads")
# once under ThreadSanitizer, and each fuzz target briefly (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --asan
jobs=$(nproc 2>/dev/null || echo 2)
echo "== tests (optimised build)"
ctest --test-dir build --output-on-failure -j "$jobs"
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
echo "== tests of threaded code (ThreadSanitizer)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSANITIZE_THREAD=ON >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs" -R threads
echo "== fuzz targets (short run of each)"
scripts/fuzz.sh 12
