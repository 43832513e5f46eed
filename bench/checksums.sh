#!/usr/bin/env bash
# What writing (and, for runarray and treebuild, verifying) checksums costs a build:
# dnaprep, runarray and treebuild of this checkout against the same three programs
# built from a revision without checksum files, on the same input, one run each, and
# the time of `treequery -V` over the result.
#
#   bench/checksums.sh [build-dir] [baseline-rev] [data-dir]
#
# Defaults: build/, the merge base of HEAD and main (build an older revision by
# naming it), ../shared/data beside the repository; the input is dmel_chr2R.fa.gz,
# read by dnaprep directly. The baseline is exported with `git archive` into a
# temporary folder and built there (Release, the three programs only). Data sets go
# to /dev/shm when it is writable, so that the disk stays out of the figures.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${3:-}"
baseline=${2:-$(git -C "$repo" merge-base HEAD main)}
gz=$data/dmel_chr2R.fa.gz
[ -f "$gz" ] || { echo "missing $gz"; exit 1; }
for p in dnaprep runarray treebuild treequery; do
  [ -x "$build/bin/$p" ] || { echo "no $p in $build/bin (build first)"; exit 1; }
done

scratch checksums-bench --shm

echo "# baseline: $(git -C "$repo" log -1 --format='%h %s' "$baseline")"
mkdir "$work/src"
git -C "$repo" archive "$baseline" | tar -x -C "$work/src"
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build" -j 2 --target dnaprep runarray treebuild >/dev/null


cat "$gz" >/dev/null  # into the page cache
data_dir=$(dirname "$gz")/
name=$(basename "$gz")
declare -A took
for kind in baseline checksums; do
  bin=$build/bin
  [ "$kind" = baseline ] && bin=$work/build/bin
  dir=$out/$kind/
  mkdir -p "$dir"
  took[$kind.dnaprep]=$(seconds "$bin/dnaprep" "$data_dir" "$dir" chr -q -Q "$name")
  took[$kind.runarray]=$(seconds "$bin/runarray" "$dir" chr -q)
  took[$kind.treebuild]=$(seconds "$bin/treebuild" "$dir" chr -q)
  echo "$kind: data set $(du -sh "$dir/chr.ST" | cut -f 1)"
  [ "$kind" = baseline ] && rm -rf "$dir/chr.ST"
done
for f in "$out"/checksums/chr.ST/*sum; do echo "$(basename "$f"): $(stat -c %s "$f") bytes"; done
printf '%-10s %10s %10s %8s\n' program baseline checksums change
for p in dnaprep runarray treebuild; do
  b=${took[baseline.$p]} c=${took[checksums.$p]}
  printf '%-10s %9.2fs %9.2fs %7.1f%%\n' "$p" "$b" "$c" "$(echo "($c - $b) * 100 / $b" | bc -l)"
done
b=$(echo "${took[baseline.dnaprep]} + ${took[baseline.runarray]} + ${took[baseline.treebuild]}" | bc)
c=$(echo "${took[checksums.dnaprep]} + ${took[checksums.runarray]} + ${took[checksums.treebuild]}" | bc)
printf '%-10s %9.2fs %9.2fs %7.1f%%\n' build "$b" "$c" "$(echo "($c - $b) * 100 / $b" | bc -l)"
printf 'treequery -V: %.2fs\n' "$(seconds "$build/bin/treequery" "$out/checksums/" chr -q -V)"
