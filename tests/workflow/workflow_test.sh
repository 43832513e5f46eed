#!/usr/bin/env bash
# The workflow run locally (4 sort jobs, 3 key ranges, 3 search shards) against the
# serial pipeline on a collection of a few megabases: every answer the same (the
# gathered search rows, exact and Hamming searches, the repeats tables, -e), the
# joined data set intact under -V and its runs removed. Exits 77 (skipped) without
# snakemake.
#   workflow_test.sh <source dir> <bin dir>
set -euo pipefail
src=$(cd "$1" && pwd)
bin=$(cd "$2" && pwd)
if ! command -v snakemake >/dev/null 2>&1; then
  echo "skipped: snakemake is not installed (scripts/setup.sh installs it)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/workflow.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
export LC_ALL=C

# Twelve random records, and the lambda phage twice for repeats shared by inputs.
"$bin/random_fasta" 23 12 3000 70 acgt r >a.fa
{ cat "$src/examples/lambda_phage.fa"; echo ">lambda_copy"; grep -v '^>' "$src/examples/lambda_phage.fa"; } >b.fa
# Patterns: 20 bases from every 40th line of both files, and some that occur nowhere.
{ sed -n '2~40p' a.fa; sed -n '3~40p' b.fa; } | cut -c1-20 | grep -v '[^acgtACGT]' >patterns.txt
"$bin/random_fasta" 5 1 40 20 acgt x | sed 1d >>patterns.txt

cat >config.yaml <<CONFIG
fasta: [$work/a.fa, $work/b.fa]
out: $work/joined
runs: 4
ranges: 3
patterns: $work/patterns.txt
shards: 3
mismatches: 0
results: $work/results.tsv
bin: $bin
CONFIG
if ! snakemake -s "$src/workflow/Snakefile" --configfile config.yaml --directory "$work" --cores 2 -q >snakemake.log 2>&1; then
  cat snakemake.log
  exit 1
fi
runs=$(($(wc -l <joined/workflow/plan.tsv) - 1))
[ "$runs" -ge 4 ] || { echo "the plan has $runs runs, the test wants at least 4"; exit 1; }

mkdir serial
"$bin/dnaprep" -q "" serial/ index -N a.fa b.fa >/dev/null 2>&1
"$bin/runarray" serial/ index -q 2>/dev/null
"$bin/treebuild" serial/ index -q 2>/dev/null

failed=0
same() {
  local what=$1
  shift
  "$bin/treequery" joined/ index -q "$@" >joined.out 2>/dev/null || echo "status $?" >>joined.out
  "$bin/treequery" serial/ index -q "$@" >serial.out 2>/dev/null || echo "status $?" >>serial.out
  if ! cmp -s joined.out serial.out; then
    echo "FAIL: $what differs between the workflow's data set and the serial one"
    diff joined.out serial.out | head -20
    failed=1
  fi
}
"$bin/dnatrees" search serial -f patterns.txt -m 0 -q >serial_search.tsv
cmp -s results.tsv serial_search.tsv || { echo "FAIL: the gathered shards differ from one search"; failed=1; }
[ "$(wc -l <results.tsv)" -gt 300 ] || { echo "FAIL: the search found too little"; failed=1; }
same "the exact search" -p "$(sed -n 2p a.fa | cut -c5-16)" -p "$(sed -n 9p b.fa | cut -c1-8)"
same "the exact rows" -f patterns.txt -F tsv
same "the Hamming search" -f patterns.txt -F tsv -H 1 -U
same "the Hamming tables" -p "$(sed -n 7p a.fa | cut -c1-14)" -H 2
same "the repeats tables" -t 40 -0 -K
same "the repeats rows" -t 40 -0 -K -F tsv
same "the equivalence relations" -e -t 1000
# The partitions catalogue stays after the join's -R, intact in the verifier's words for it.
if ! "$bin/treequery" joined/ index -V >verify.out 2>/dev/null ||
   grep -v ': intact$' verify.out | grep -q -v '\.stplengths: intact (no checksum: the runs are removed)$'; then
  echo "FAIL: treequery -V does not call the joined data set intact"
  grep -v ': intact' verify.out | head
  failed=1
fi
if ls joined/index.ST/ | grep -q -E '\.st(psa|lcp)$|part-'; then
  echo "FAIL: runs or parts left after the join"
  failed=1
fi
[ "$failed" = 0 ] && echo "workflow: $runs runs in 4 jobs, 3 key ranges, 3 shards: the same answers as the serial pipeline"
exit "$failed"
