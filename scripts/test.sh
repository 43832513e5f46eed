#!/usr/bin/env bash
# Builds everything and runs every test twice: optimised, and under AddressSanitizer
# with UndefinedBehaviorSanitizer; then runs each fuzz target briefly (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --asan
jobs=$(nproc 2>/dev/null || echo 2)
echo "== tests (optimised build)"
ctest --test-dir build --output-on-failure -j "$jobs"
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
echo "== fuzz targets (short run of each)"
scripts/fuzz.sh 12
