#!/usr/bin/env bash
# treebuild -j 1 against -j 2 (the writer thread) on one genome: the data set is made
# once, then the two builds take turns, each repeated; per build the wall time, the CPU
# time and treebuild's own write time, and the medians. On a shared machine the wall
# times are noisy: repeat more and compare the medians.
#
#   bench/treebuild_threads.sh [build-dir] [fasta(.gz)] [repeats] [runarray options]
#
# Defaults: build/, ../shared/data/saureus_4genomes.fa.gz beside the repository, 5
# repeats, "-S" (one run per genome, so that the merge has four streams). Needs GNU time.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
fasta=${2:-$repo/../shared/data/saureus_4genomes.fa.gz}
repeats=${3:-5}
runs=${4:--S}
bin=$build/bin
work=$(mktemp -d "${TMPDIR:-/tmp}/treebuild-threads.XXXXXX")
trap 'rm -rf "$work"' EXIT

cp "$fasta" "$work/"
"$bin/dnaprep" "$work/" "$work/" g -q "$(basename "$fasta")" >/dev/null 2>&1
# shellcheck disable=SC2086
"$bin/runarray" "$work/" g -q $runs 2>/dev/null
echo "runs: $(($(stat -c %s "$work/g.ST/g.stplengths") / 4)), bases: $(cat "$work"/g.ST/*.stdna | wc -c)"

: >"$work/times"
for ((r = 1; r <= repeats; r++)); do
  for j in 1 2; do
    rm -f "$work"/g.ST/*.stree
    /usr/bin/time -f "%e %U %S" -o "$work/last" "$bin/treebuild" "$work/" g -j "$j" 2>"$work/err"
    write=$(sed -n 's#.* r/w [0-9]*/\([0-9]*\) ms.*#\1#p' "$work/err")
    read -r wall user sys <"$work/last"
    echo "$j $wall $(echo "$user $sys" | awk '{ printf "%.2f", $1 + $2 }') $write" | tee -a "$work/times" |
      awk '{ printf "-j %s: wall %6.2f s  cpu %6.2f s  write %6.2f s\n", $1, $2, $3, $4 / 1000 }'
  done
done
for j in 1 2; do
  for col in 2 3; do
    awk -v j="$j" '$1 == j { print $'"$col"' }' "$work/times" | sort -n |
      awk -v j="$j" -v what="$([ $col = 2 ] && echo wall || echo cpu)" \
        '{ v[NR] = $1 } END { printf "-j %s median %s %.2f s (min %.2f, max %.2f)\n", j, what, v[int((NR + 1) / 2)], v[1], v[NR] }'
  done
done
