#!/usr/bin/env bash
# treequery on one thread and on two (-j 2): 100,000 exact 20-mers from a pattern file
# on D. melanogaster arm 2R (the tables, trees read), and the traversal -0 -K -1 on
# the whole shared collection: the genomes of the data folder in one data set (phages
# lambda and phiX174, E. coli, D. melanogaster 2R, four S. aureus: 8 inputs, 37.4 Mb;
# the 16S genes and the contigs are no genomes, and their thousands of inputs exceed
# the 300 sets of -1).
# Each command runs `repeats` times; prints the wall and CPU seconds of every run
# and the ratio of the best wall times (-j 2 / -j 1), and checks that the outputs agree.
#
#   bench/treequery_threads.sh [build-dir] [data-dir] [repeats]
#
# Needs /usr/bin/time. Building the two data sets takes a few minutes.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
repeats=${3:-3}
need_tools "time" /usr/bin/time
scratch treequery-threads
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"

build_set() {  # <name> <fasta files...>
  local name=$1
  shift
  for f in "$@"; do if [[ $f == *.gz ]]; then gzip -dc "$f"; else cat "$f"; fi; done >"$work/$name.fa"
  "$bin/dnaprep" "$work/" "$work/" "$name" -q "$name.fa" >/dev/null 2>"$work/log" &&
    "$bin/runarray" "$work/" "$name" -q 2>"$work/log" &&
    "$bin/treebuild" "$work/" "$name" -q 2>"$work/log" || { echo "building $name failed"; tail -n 3 "$work/log"; exit 1; }
  rm "$work/$name.fa"
}

# bench <label> <treequery arguments...>: -j 1 and -j 2, `repeats` times each.
bench() {
  local label=$1
  shift
  declare -A best
  for j in 1 2; do
    best[$j]=
    for r in $(seq "$repeats"); do
      /usr/bin/time -f "%e %U %S" -o "$work/time" "$bin/treequery" "$@" -j "$j" >"$work/out.$j" 2>"$work/log" ||
        { echo "treequery $* -j $j failed"; tail -n 3 "$work/log"; exit 1; }
      read -r wall user sys <"$work/time"
      cpu=$(echo "$user + $sys" | bc)
      echo "  $label -j $j run $r: wall $wall s, cpu $cpu s"
      if [ -z "${best[$j]}" ] || [ "$(echo "$wall < ${best[$j]}" | bc)" = 1 ]; then best[$j]=$wall; fi
    done
  done
  cmp -s "$work/out.1" "$work/out.2" && same="outputs agree" || same="OUTPUTS DIFFER"
  echo "$label: best wall -j 1 ${best[1]} s, -j 2 ${best[2]} s, ratio $(echo "scale=2; ${best[2]} / ${best[1]}" | bc); $same"
}

echo "== building dmel2R"
build_set dmel2R "$data/dmel_chr2R.fa.gz"
g++ -O2 -std=c++20 -o "$work/draw" "$repo/bench/draw_patterns.cpp"
"$work/draw" "$work/dmel2R.ST/dmel2R_0.stdna" 100000 20 16 >"$work/p20.fa"
bench "100,000 20-mers, dmel 2R" "$work/" dmel2R -q -f "$work/p20.fa"

echo "== building the whole collection"
build_set all "$data"/lambda_phage.fa "$data"/phiX174.fa "$data"/ecoli_K12_MG1655.fa "$data"/dmel_chr2R.fa.gz \
  "$data"/saureus_4genomes.fa.gz
bench "traversal -0 -K -1, whole collection" "$work/" all -q -0 -K -1
