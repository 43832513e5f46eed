#!/usr/bin/env bash
# The searches a user runs most, beside the peers in the same run, on one genome:
#  - exact: 100,000 20-mers from a FASTA file, both strands, TSV rows (treequery read
#    and -U) next to `vmatch -q P.fa -complete -d -p` and `bowtie -f -v 0 -a`;
#  - Hamming 2: 10,000 20-mers, both strands, rows (treequery -U) next to
#    `bowtie -f -v 2 -a`;
#  - the cost of verification: 1,000 exact (read mode) and 100 Hamming-2 (-U)
#    patterns with the data set's checksum files present and moved aside, each run
#    REPEAT times under one timer (a run takes some milliseconds);
#  - -j 2 against -j 1 for the two searches above and for the tables of -H and of
#    exact -U searches;
#  - the first search after the page cache is dropped (needs root; says so when refused).
# Each program searches once untimed before the first figures (warm page cache).
# Each line gives wall and CPU seconds (user + system) and the peak resident memory
# of the fastest of RUNS runs, and the ratio of wall times to the peer named. On a
# machine shared with other work, CPU seconds are the steadier figure; -j 2 can gain
# only when a second core is free, and only as much as that core is fast: on a
# virtual machine the cores may differ (time one search under `taskset -c 0` and
# `taskset -c 1` to see).
#
#   bench/search_speed.sh [build-dir] [data-dir] [genome-file]
#
# Defaults: build/ and ../shared/data beside the repository, dmel_chr2R.fa.gz.
# Environment: EXACT (100000), HAMMING (10000), SHORT_EXACT (1000), SHORT_HAMMING (100)
# pattern counts; RUNS (3) runs of each search, the fastest counted; REPEAT (20) runs
# of each short search of the verification part. Needs vmatch, bowtie and
# /usr/bin/time (Debian packages vmatch, bowtie, time).
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
genome=${3:-dmel_chr2R.fa.gz}
need_tools "vmatch bowtie time" mkvtree vmatch bowtie bowtie-build /usr/bin/time
scratch search-speed
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== $genome: the data set, the vmatch and the bowtie index" >&2
if [[ $genome == *.gz ]]; then gzip -dc "$data/$genome" >"$work/g.fa"; else cp "$data/$genome" "$work/g.fa"; fi
"$bin/dnaprep" "$work/" "$work/" g -q -N g.fa >/dev/null 2>&1
"$bin/runarray" "$work/" g -q 2>/dev/null
"$bin/treebuild" "$work/" g -q 2>/dev/null
(cd "$work" && mkvtree -db g.fa -dna -pl -allout -indexname g.vi >/dev/null)
bowtie-build -q "$work/g.fa" "$work/g.bt" >/dev/null 2>&1
g++ -O2 -std=c++20 -o "$work/draw" "$repo/bench/draw_patterns.cpp"
# Patterns from the first input's text (the longest sequence of most genomes).
draw() { "$work/draw" "$work/g.ST/g_0.stdna" "$1" 20 "$2" >"$work/$3.fa"; }
draw "${EXACT:-100000}" 16 exact
draw "${HAMMING:-10000}" 17 hamming
draw "${SHORT_EXACT:-1000}" 18 short_exact
draw "${SHORT_HAMMING:-100}" 19 short_hamming

# run <label> <command...>: the fastest of RUNS runs (3; the cold ones run once);
# prints "<label> wall cpu peak-MB" of that run and keeps its figures in $wall $cpu
# and the output in $work/out. The fastest run is the steadier figure on a machine
# whose cores are shared with other work: a slow run says more about the neighbours.
run() {
  local label=$1 k t0 t1 w c p
  wall=""
  shift
  echo "  \$ $*" >&2
  for ((k = 0; k < ${runs:-${RUNS:-3}}; k++)); do
    t0=$(date +%s%N)
    /usr/bin/time -v -o "$work/time" "$@" >"$work/out" 2>"$work/err" ||
      { echo "failed: $*"; tail -n 3 "$work/err"; exit 1; }
    t1=$(date +%s%N)
    w=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
    c=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.2f", u + s }' "$work/time")
    p=$(awk -F': ' '/Maximum resident/ { printf "%.1f", $2 / 1024 }' "$work/time")
    if [[ -z $wall ]] || awk -v a="$w" -v b="$wall" 'BEGIN { exit !(a < b) }'; then
      wall=$w cpu=$c peak=$p
    fi
  done
  printf '%-44s wall %7.3f s  cpu %7.2f s  peak %8s MB\n' "$label" "$wall" "$cpu" "$peak"
}
# warm <command...>: one run left out of the figures, so that every program meets its
# files in the page cache as a user's second search does (the runs just after a build
# also pay for the build's pages still being written back).
warm() { "$@" >/dev/null 2>&1 || true; }
ratio() { awk -v a="$1" -v b="$2" -v what="$3" 'BEGIN { printf "    ratio %s: %.2fx\n", what, (b > 0 ? a / b : 0) }'; }
tq=("$bin/treequery" "$work/" g -q)

echo
echo "== exact, $(grep -c '>' "$work/exact.fa") 20-mers, both strands, TSV, one thread"
warm "${tq[@]}" -U -f "$work/exact.fa" -F tsv -B
warm vmatch -q "$work/exact.fa" -complete -d -p "$work/g.vi"
warm bowtie -f -v 0 -a "$work/g.bt" "$work/exact.fa"
run "treequery read" "${tq[@]}" -f "$work/exact.fa" -F tsv -B
read_wall=$wall
run "treequery -U" "${tq[@]}" -U -f "$work/exact.fa" -F tsv -B
mapped_wall=$wall
run "vmatch -complete -d -p" vmatch -q "$work/exact.fa" -complete -d -p "$work/g.vi"
vmatch_wall=$wall
run "bowtie -f -v 0 -a" bowtie -f -v 0 -a "$work/g.bt" "$work/exact.fa"
bowtie_wall=$wall
ratio "$mapped_wall" "$vmatch_wall" "-U / vmatch"
ratio "$mapped_wall" "$bowtie_wall" "-U / bowtie"
ratio "$read_wall" "$mapped_wall" "read / -U"

echo
echo "== Hamming 2, $(grep -c '>' "$work/hamming.fa") 20-mers, both strands, TSV, one thread"
run "treequery -U -H 2" "${tq[@]}" -U -H 2 -f "$work/hamming.fa" -F tsv -B
hamming_wall=$wall
run "bowtie -f -v 2 -a" bowtie -f -v 2 -a "$work/g.bt" "$work/hamming.fa"
ratio "$hamming_wall" "$wall" "-U / bowtie"

echo
echo "== verification: checksum files present against moved aside (CPU seconds of ${REPEAT:-20} runs)"
mkdir "$work/aside"
# Short searches take some milliseconds: each is run REPEAT times under one timer.
repeated=(bash -c 'n=$1; shift; for ((i = 0; i < n; i++)); do "$@" >/dev/null || exit 1; done' repeated "${REPEAT:-20}")
verify_cost() {  # <label> <treequery arguments...>
  local label=$1 on off
  shift
  run "$label, verified" "${repeated[@]}" "${tq[@]}" "$@"
  on=$cpu
  mv "$work/g.ST/"*sum "$work/aside/"
  run "$label, unverified" "${repeated[@]}" "${tq[@]}" "$@"
  off=$cpu
  mv "$work/aside/"*sum "$work/g.ST/"
  awk -v on="$on" -v off="$off" 'BEGIN { printf "    verification costs %+.0f%% CPU\n", (off > 0 ? 100 * (on - off) / off : 0) }'
}
verify_cost "exact read, $(grep -c '>' "$work/short_exact.fa") patterns" -f "$work/short_exact.fa" -F tsv -B
verify_cost "Hamming 2 -U, $(grep -c '>' "$work/short_hamming.fa") patterns" -U -H 2 -f "$work/short_hamming.fa" -F tsv -B

echo
echo "== threads: -j 2 against -j 1"
threads() {  # <label> <treequery arguments...>
  local label=$1 one
  shift
  run "$label -j 1" "${tq[@]}" "$@" -j 1
  one=$wall
  cp "$work/out" "$work/out.1"
  run "$label -j 2" "${tq[@]}" "$@" -j 2
  cmp -s <(grep -v '^# ' "$work/out") <(grep -v '^# ' "$work/out.1") || echo "    OUTPUTS DIFFER"
  ratio "$wall" "$one" "-j 2 / -j 1"
}
threads "exact read rows" -f "$work/exact.fa" -F tsv -B
threads "exact -U rows" -U -f "$work/exact.fa" -F tsv -B
threads "exact -U tables" -U -f "$work/exact.fa"
threads "Hamming 2 -U rows" -U -H 2 -f "$work/hamming.fa" -F tsv -B
threads "Hamming 2 -U tables" -U -H 2 -f "$work/hamming.fa"

echo
echo "== cold page cache: 5,000 patterns, both strands"
draw 5000 20 cold
drop() { sync && echo 3 2>/dev/null >/proc/sys/vm/drop_caches; }
if drop; then
  runs=1
  run "treequery -U, cold" "${tq[@]}" -U -f "$work/cold.fa" -F tsv -B
  ours=$wall
  drop
  run "treequery read, cold" "${tq[@]}" -f "$work/cold.fa" -F tsv -B
  drop
  run "vmatch -complete -d -p, cold" vmatch -q "$work/cold.fa" -complete -d -p "$work/g.vi"
  ratio "$ours" "$wall" "-U / vmatch, cold"
else
  echo "    dropping the page cache was refused (needs root): not measured"
fi
