#!/usr/bin/env bash
# Builds the programs and runs the whole pipeline on the shipped phage lambda genome,
# showing what each stage produced. The data set lands in out/lambda.ST/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
bin=build/bin
rm -rf out && mkdir -p out

step() { printf '\n=== %s\n$ %s\n' "$1" "${*:2}"; "${@:2}"; }

step "1. dnaprep: FASTA to filtered and packed inputs (summary table)" \
  $bin/dnaprep examples/ out/ lambda lambda_phage.fa
step "Files of the data set" ls -l out/lambda.ST/
