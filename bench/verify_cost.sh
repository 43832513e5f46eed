#!/usr/bin/env bash
# Cost of verifying trees and texts on use: the same treequery runs with the data
# set's checksum files present and moved aside, on D. melanogaster arm 2R:
#  - 1,000 exact 20-mers from the genome, trees read (grouped block reads) and -U;
#  - 100 Hamming-2 searches of 20-mers with -U;
#  - the traversal -0 -K -1.
# Each run is repeated (alternating with and without checksums) and the fastest wall
# and CPU times (steadier on a busy machine) are kept; prints both and
# the extra share of time that verification takes, and checks that the answers agree.
#
#   bench/verify_cost.sh [build-dir] [data-dir] [repeats]
#
# Defaults: build/ and ../shared/data beside the repository, 5 repeats. The data set
# is built once with dnaprep, runarray and treebuild, which write the checksum files.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
repeats=${3:-5}
need_tools "time" /usr/bin/time
scratch verify-cost

echo "== building the data set (dmel_chr2R)" >&2
"$bin/dnaprep" "$data/" "$work/" dm -q dmel_chr2R.fa.gz >/dev/null 2>&1
"$bin/runarray" "$work/" dm -q 2>/dev/null
"$bin/treebuild" "$work/" dm -q 2>/dev/null
set_dir=$work/dm.ST
mkdir "$work/aside"
echo "   $(ls "$set_dir"/*.stree | wc -l) trees, $(cat "$set_dir"/*.stree | wc -c) bytes of records" >&2

# Patterns: 20-mers of the text at evenly spaced places, those of a, c, g, t only.
text=$set_dir/dm_0.stdna
size=$(stat -c %s "$text")
patterns() {
  local count=$1 step=$((size / ($1 * 2))) at=1000 found=0 p list=
  while [ "$found" -lt "$count" ] && [ "$at" -lt "$size" ]; do
    p=$(dd if="$text" bs=1 skip="$at" count=20 status=none | tr 'ACGT' 'acgt')
    if [[ $p =~ ^[acgt]{20}$ ]]; then
      list+=${list:+,}$p
      found=$((found + 1))
    fi
    at=$((at + step))
  done
  echo "$list"
}
exact=$(patterns 1000)
hamming=$(patterns 100)

# "<wall> <cpu>" seconds of one run (wall to the millisecond; CPU from perf's task
# clock to the millisecond when perf is there, else user + system to the hundredth);
# its stdout kept in $work/out.
run_once() {
  local t0 t1 cpu
  t0=$(date +%s%N)
  if command -v perf >/dev/null; then
    perf stat -x, -e task-clock -o "$work/time" "$bin/treequery" "$work/" dm -q "$@" >"$work/out" 2>"$work/err" ||
      { echo "failed: treequery $*" >&2; tail -n 5 "$work/err" >&2; exit 1; }
    cpu=$(grep task-clock "$work/time" | cut -d, -f1 | awk '{ printf "%.3f", $1 / 1000 }')
  else
    /usr/bin/time -f "%U %S" -o "$work/time" "$bin/treequery" "$work/" dm -q "$@" >"$work/out" 2>"$work/err" ||
      { echo "failed: treequery $*" >&2; tail -n 5 "$work/err" >&2; exit 1; }
    cpu=$(awk '{ printf "%.2f", $1 + $2 }' "$work/time")
  fi
  t1=$(date +%s%N)
  echo "$(((t1 - t0) / 1000000)) $cpu" | awk '{ printf "%.3f %s", $1 / 1000, $2 }'
}
with_sums() { mv "$work/aside/"*sum "$set_dir/" 2>/dev/null || true; }
without_sums() { mv "$set_dir/"*sum "$work/aside/"; }

printf '%-15s %9s %9s %9s %9s %8s %8s %s\n' query "wall off" "wall on" "cpu off" "cpu on" "+wall" "+cpu" answers
measure() {
  local name=$1
  shift
  local best_off="9e9 9e9" best_on="9e9 9e9" r
  echo "  \$ treequery $work/ dm -q $(echo "$*" | cut -c 1-80)..." >&2
  for ((r = 0; r < repeats; r++)); do
    without_sums
    best_off=$(echo "$best_off $(run_once "$@")" | awk '{ print ($3 < $1 ? $3 : $1), ($4 < $2 ? $4 : $2) }')
    md5sum <"$work/out" >"$work/off.md5"
    with_sums
    best_on=$(echo "$best_on $(run_once "$@")" | awk '{ print ($3 < $1 ? $3 : $1), ($4 < $2 ? $4 : $2) }')
    md5sum <"$work/out" >"$work/on.md5"
  done
  local agree=differ
  cmp -s "$work/off.md5" "$work/on.md5" && agree=agree
  echo "$name $best_off $best_on $agree" |
    awk '{ printf "%-15s %9.3f %9.3f %9.3f %9.3f %7.1f%% %7.1f%% %s\n", $1, $2, $4, $3, $5,
           ($2 > 0 ? 100 * ($4 - $2) / $2 : 0), ($3 > 0 ? 100 * ($5 - $3) / $3 : 0), $6 }'
}

measure exact-read -p "$exact"
measure exact-U -U -p "$exact"
measure hamming2-U -U -H 2 -p "$hamming"
measure traversal-0K1 -0 -K -1
