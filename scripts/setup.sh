#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test the programs, then
# configures and builds them in build/ (and, with --asan, in build-asan/ too).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
# clang and its runtime libraries build the fuzz targets (scripts/fuzz.sh); snakemake runs
# the workflow test (workflow/Snakefile); bedtools takes the quick start's BED output.
for package in g++ cmake make help2man libgtest-dev libdivsufsort-dev zlib1g-dev libxxhash-dev clang libclang-rt-dev snakemake bedtools; do
  dpkg -s "$package" >/dev/null 2>&1 || need+=("$package")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -q
  $sudo apt-get install -y -q "${need[@]}"
fi

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$jobs"
if [ "${1:-}" = "--asan" ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON >/dev/null
  cmake --build build-asan -j "$jobs"
fi
