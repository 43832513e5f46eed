#!/usr/bin/env bash
# Builds the programs and runs the whole pipeline on the shipped phage lambda genome,
# showing what each stage produced. The data set lands in out/lambda.ST/, the merged
# suffix and LCP arrays of treebuild -a in out/lambda_array.ST/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
bin=build/bin
rm -rf out && mkdir -p out

step() { printf '\n=== %s\n$ %s\n' "$1" "${*:2}"; "${@:2}"; }

step "1. dnaprep: FASTA to filtered and packed inputs (summary table)" \
  $bin/dnaprep examples/ out/ lambda lambda_phage.fa
step "2. runarray: sorted suffixes of each run, with LCP arrays" \
  $bin/runarray out/ lambda -Z
step "3a. treebuild -a: the merged suffix array and LCP array of the whole data set" \
  $bin/treebuild out/ lambda -Z -a -p lambda_array
step "3b. treebuild: suffix trees cut into partitions of at most 20000 nodes" \
  $bin/treebuild out/ lambda -Z -n 20000
step "Files of the data set" ls -l out/lambda.ST/ out/lambda_array.ST/
step "4a. treequery: exact search (three patterns that occur, one that does not, one pattern triple)" \
  $bin/treequery out/ lambda -q -p gggcggcgac,ttgacc,gatccgacag,acgtacgtacgtacgt
$bin/treequery out/ lambda -q -p 0,100,12
step "4b. treequery: search within Hamming distance 1 and 2, and with a wildcard" \
  $bin/treequery out/ lambda -q -H 1 -p gggcggcgacct
$bin/treequery out/ lambda -q -H 2 -p gggcggcgacct
$bin/treequery out/ lambda -q -p 'gggc*gcgacct'
step "4c. treequery: longest repeats by occurrences (Standard N) and inputs (Standard K)" \
  $bin/treequery out/ lambda -q -0 -K -1 -b 10
step "4d. treequery: identical and contained inputs" \
  $bin/treequery out/ lambda -q -e
