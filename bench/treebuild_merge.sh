#!/usr/bin/env bash
# Merge speed of `treebuild -a`: the real genomes together (about 46 Mb) sorted as one
# run and as the fewest runs that the longest input allows (it sets the smallest run
# size), and the 16S genes with the S. aureus contigs (9 Mb, short inputs) as 4 and
# 16 runs. For each: the sorter's time, then the list merge, the heap merge (-H) and
# the list merge on stored LCPs (-Z), with peak memory, the comparison counters and
# the share of comparisons decided by the prefix words; last, the suffix-array and
# LCP builders of two peer tools on the whole set.
#
#   bench/treebuild_merge.sh [bin-dir] [data-dir] [work-dir]
#
# Times are wall and CPU seconds of the whole process (/usr/bin/time); the machine is
# shared, so CPU seconds are the steadier figure.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$repo/build/bin}" && pwd)
data=$(cd "${2:-$repo/../shared/data}" && pwd)
work=${3:-${TMPDIR:-/tmp}/treebuild-merge-bench}
mkdir -p "$work"
cd "$work"

for f in bact_16S_3994 dmel_chr2R saureus_4genomes saureus_usa300_contigs; do
  [ -s $f.fa ] || zcat "$data/$f.fa.gz" >$f.fa
done
for f in ecoli_K12_MG1655 lambda_phage phiX174; do [ -s $f.fa ] || cp "$data/$f.fa" .; done
whole="bact_16S_3994.fa dmel_chr2R.fa ecoli_K12_MG1655.fa lambda_phage.fa phiX174.fa saureus_4genomes.fa saureus_usa300_contigs.fa"
short="bact_16S_3994.fa saureus_usa300_contigs.fa"

# timed <label> <command...>: runs it, keeps its stderr in last.err, prints one line.
timed() {
  local label=$1
  shift
  echo "\$ $*" >>commands.txt
  /usr/bin/time -f "%e %U %S %M" -o time.txt "$@" 2>last.err >/dev/null
  read -r wall user sys rss <time.txt
  cpu=$(echo "$user + $sys" | bc)
  printf '%-34s wall %7.2f s  cpu %7.2f s  peak %6d MB\n' "$label" "$wall" "$cpu" $((rss / 1024))
}

counter() { grep -o "$1=[0-9]*" last.err | head -1 | cut -d= -f2; }

merge() {
  local set=$1 options=$2 label=$3 sortcpu=$4
  timed "  treebuild -a $label" "$bin/treebuild" ./ "$set" -a -p merged $options
  local suffixes streams tncmp tnp1 tnp2 tngpf calls
  suffixes=$(grep -o 'Merge done: [0-9]*' last.err | grep -o '[0-9]*$')
  streams=$(grep -o 'number of parts = [0-9]*' last.err | grep -o '[0-9]*$')
  tncmp=$(counter tncmp) tnp1=$(counter tnp1) tnp2=$(counter tnp2) tngpf=$(counter tngpf)
  # Every comparison is either a merge comparison (tncmp) or, in the list merge
  # without -Z, the LCP of a stream's next record.
  calls=$tncmp
  [ "$label" = list ] && calls=$((tncmp + suffixes - streams))
  local share=-
  [ "$calls" -gt 0 ] && share="$(echo "scale=1; 100 * $tnp2 / $calls" | bc)%"
  printf '      tncmp %s  tnp1 %s  tnp2 %s  tngpf %s  decided by prefix words %s  merge/sort cpu %s\n' \
    "$tncmp" "$tnp1" "$tnp2" "$tngpf" "$share" "$(echo "scale=2; $cpu / $sortcpu" | bc)"
}

runs() {
  local set=$1 sorting=$2
  timed "runarray -Z $sorting" "$bin/runarray" ./ "$set" -Z $sorting
  sortcpu=$cpu
  echo "  runs: $(ls $set.ST/*.stpsa | wc -l)"
  merge "$set" "" list "$sortcpu"
  listcpu=$cpu
  merge "$set" "-H" heap "$sortcpu"
  merge "$set" "-Z" "stored LCP (-Z)" "$sortcpu"
  storedcpu=$cpu
}

: >commands.txt
echo "== whole set: $whole"
rm -rf g.ST s.ST merged.ST
timed "dnaprep" "$bin/dnaprep" ./ ./ g -q $whole
runs g -A
ours_list=$(echo "$sortcpu + $listcpu" | bc) ours_stored=$(echo "$sortcpu + $storedcpu" | bc)
runs g "-r 12000000"
echo "== short inputs: $short"
timed "dnaprep" "$bin/dnaprep" ./ ./ s -q $short
runs s "-r 2500000"
runs s "-r 600000"

echo "== peers on the whole set (suffix array and LCP array in one go)"
for f in $whole; do sed -e '$a\' $f; done >all.fa  # each file ends its last line
# ratio <peer label>: our one-run sort plus merge against the peer, in CPU seconds.
ratio() {
  printf '  runarray -Z -A + treebuild -a: %s s cpu, %s of %s; with -Z %s s cpu, %s\n' "$ours_list" \
    "$(echo "scale=2; $ours_list / $cpu" | bc)" "$1" "$ours_stored" "$(echo "scale=2; $ours_stored / $cpu" | bc)"
}
if command -v gt >/dev/null; then
  timed "gt suffixerator -suf -lcp" gt suffixerator -db all.fa -indexname gti -dna -suf -lcp -tis
  ratio "gt suffixerator"
fi
if command -v mkvtree >/dev/null; then
  timed "mkvtree -suf -lcp" mkvtree -db all.fa -dna -indexname vi -suf -lcp -tis
  ratio mkvtree
fi
echo "== commands"
cat commands.txt
