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

# Exact searches need the trees; build them here when the steps above did not.
[ -f out/lambda.ST/lambda.stdiv ] || { $bin/runarray out/ lambda -q && $bin/treebuild out/ lambda -q; } >/dev/null
step "treequery: exact searches (two patterns that occur, one that does not; first 5 rows each)" \
  $bin/treequery out/ lambda -q -m 5 -p gattaca,tttttt,acgtacgtacgtacgt
step "treequery: a pattern triple (the 20 bases at offset 100 of input 0)" \
  $bin/treequery out/ lambda -q -p 0,100,20
