#!/usr/bin/env bash
# Builds the programs, shows dnatrees (index, search, info, verify) on the shipped phage
# lambda genome in out/lambda_ds/, then runs the four stages one by one on it,
# showing what each stage produced. The data set lands in out/lambda.ST/, the merged
# suffix and LCP arrays of treebuild -a in out/lambda_array.ST/, and a second data set
# of three inputs (lambda, an identical copy, a 5,000-base slice) in out/trio.ST/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >/dev/null
export PATH="$PWD/build/bin:$PATH"
rm -rf out && mkdir -p out

# Prints a title and a command line, then runs it.
step() { printf '\n=== %s\n$ %s\n' "$1" "$2"; eval "$2"; }

# The front door first: one command per task, both strands by default.
step "dnatrees index: a gzip FASTA into the data set out/lambda_ds/" \
  "gzip -c examples/lambda_phage.fa > out/lambda.fa.gz && dnatrees index out/lambda_ds out/lambda.fa.gz"
step "dnatrees search: primers (one with an IUPAC code) on both strands within 2 mismatches, TSV" \
  "printf '>fwd\\nGGGCGGCGACCT\\n>rev\\nTTGACCRTTTAC\\n' >out/primers_iupac.fa && dnatrees search out/lambda_ds -f out/primers_iupac.fa -m 2"
step "dnatrees info and verify" "dnatrees info out/lambda_ds && dnatrees verify out/lambda_ds"
printf '\n=== The four stages underneath\n'

step "1. dnaprep: FASTA to filtered and packed inputs (summary table)" \
  "dnaprep examples/ out/ lambda -N lambda_phage.fa"
step "2. runarray: sorted suffixes of each run, with LCP arrays" \
  "runarray out/ lambda -Z"
step "3a. treebuild -a: the merged suffix array and LCP array of the whole data set" \
  "treebuild out/ lambda -Z -a -p lambda_array"
step "3b. treebuild: suffix trees cut into partitions of at most 20000 node records" \
  "treebuild out/ lambda -Z -n 20000"
step "Files of the data sets" "ls -l out/lambda.ST/ out/lambda_array.ST/"
step "4a. treequery: exact search (three patterns that occur, one that does not), then a pattern triple" \
  "treequery out/ lambda -q -p gggcggcgac,ttgacc,gatccgacag,acgtacgtacgtacgt"
step "" "treequery out/ lambda -q -p 0,100,12"
step "4b. treequery: search within Hamming distance 1 and 2, and with a wildcard" \
  "treequery out/ lambda -q -H 1 -p tgctgatgaag"
step "" "treequery out/ lambda -q -H 2 -p tgctgatgaag"
step "" "treequery out/ lambda -q -p 'ctctga*aagaa'"
step "4c. treequery: primers from a FASTA file on both strands, as BED (sequence name, 0-based start, end, name, mismatches, strand)" \
  "printf '>fwd\\ngggcggcgac\\n>rev\\ngtcgccgccc\\n>probe\\nttgaNNgacc\\n' >out/primers.fa && treequery out/ lambda -q -f out/primers.fa -B -F bed"
step "4d. treequery: longest repeats by occurrences (Standard N, first rows) and by inputs (Standard K)" \
  "treequery out/ lambda -q -0 -K -1 -b 5 -L 40 -o out/lambda_repeats.txt && head -n 16 out/lambda_repeats.txt"

# A second data set: lambda, an identical copy and a slice of it, to show -e.
{
  cat examples/lambda_phage.fa
  echo ">lambda copy"
  tail -n +2 examples/lambda_phage.fa
  echo ">lambda slice 1001-6000"
  tail -n +2 examples/lambda_phage.fa | tr -d '\n' | cut -c 1001-6000
} >out/trio.fa
step "5. The whole pipeline on three inputs: lambda, a copy and a slice" \
  "dnaprep out/ out/ trio -q -Q trio.fa && runarray out/ trio -q -Z && treebuild out/ trio -q -Z"
step "5a. treequery -e: identical and contained inputs (progress on stderr dropped)" "treequery out/ trio -e 2>/dev/null"
step "5b. treequery -K: the longest strings shared by exactly K inputs" "treequery out/ trio -q -K -L 30"
