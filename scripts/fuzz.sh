#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz in build-fuzz/ (clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each one for a short fixed time from its seed
# corpus. Where clang cannot build them the run is skipped with a message and passes.
#
#   scripts/fuzz.sh [seconds per target]      (default 12)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-12}
compiler=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$compiler" ]; then
  echo "== fuzz targets skipped: no clang++ on this machine"
  exit 0
fi
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" -DFUZZ=ON >/dev/null
if ! grep -q '^FUZZ_TARGETS_BUILD:INTERNAL=1' build-fuzz/CMakeCache.txt; then
  echo "== fuzz targets skipped: $compiler cannot build -fsanitize=fuzzer programs (libclang-rt-14-dev missing?)"
  exit 0
fi
jobs=$(nproc 2>/dev/null || echo 2)
cmake --build build-fuzz -j "$jobs" --target fuzz_fasta fuzz_trees
found=0
for target in fasta trees; do
  echo "== fuzz_$target for $seconds s"
  # A fixed seed, so that CI walks the same inputs each time (a campaign sets its own).
  # New inputs go to a scratch corpus, so the checked-in seeds stay as they are; a
  # crash leaves its input in build-fuzz/fuzz/ for the report.
  corpus=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-corpus.XXXXXX")
  status=0
  ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz/fuzz_$target -seed=1 -max_total_time="$seconds" -timeout=30 \
    -artifact_prefix=build-fuzz/fuzz/ -print_final_stats=1 "$corpus" "tests/fuzz/corpus/$target" \
    >build-fuzz/fuzz/$target.log 2>&1 || status=$?
  rm -rf "$corpus"
  if [ "$status" -ne 0 ]; then
    grep -v '^    #' build-fuzz/fuzz/$target.log | tail -40
    echo "== fuzz_$target found a fault (log: build-fuzz/fuzz/$target.log)"
    found=1
    continue
  fi
  grep -E '^Done|stat::number_of_executed_units' build-fuzz/fuzz/$target.log || true
done
exit "$found"
