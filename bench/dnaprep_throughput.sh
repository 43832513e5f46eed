#!/usr/bin/env bash
# Throughput of dnaprep on a page-cached FASTA of more than 200 MB (a real chromosome,
# repeated ten times: real line lengths, soft-masked lower case, a run of N), next to
# `wc -l` on the same file in the same run; when installed, also the peers that turn
# FASTA into plain or packed sequence: `seqkit seq -s -w 0` and `gt encseq encode`.
#
#   bench/dnaprep_throughput.sh [build-dir] [data-dir]
#
# Defaults: build/ and ../shared/data beside the repository. wc, dnaprep and a plain
# copy of the file (the cost of the reading and writing alone) run three times and
# the best wall time counts; the peers run once. The outputs go to a tmpfs directory
# when one is writable (/dev/shm), so that the figures measure the programs rather
# than the disk's block allocation; everything is removed at the end.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
dnaprep=$build/bin/dnaprep
[ -x "$dnaprep" ] || { echo "no dnaprep in $build/bin (build first)"; exit 1; }
source_fa=$data/dmel_chr2R.fa.gz
[ -f "$source_fa" ] || { echo "missing $source_fa"; exit 1; }

scratch dnaprep-bench --shm

gzip -dc "$source_fa" >"$work/one.fa"
for _ in 1 2 3 4 5 6 7 8 9 10; do cat "$work/one.fa"; done >"$work/big.fa"
rm "$work/one.fa"
bytes=$(stat -c %s "$work/big.fa")
cat "$work/big.fa" >/dev/null  # into the page cache

# best <runs> <label> <command...>: the best wall time of the runs and the CPU time
# (user + system) of that run, in seconds.
best() {
  local runs=$1 label=$2 t="" c="" r u s i
  shift 2
  echo "  \$ $*" >&2
  for ((i = 0; i < runs; i++)); do
    { TIMEFORMAT='%R %U %S'; time "$@" >"$work/stdout" 2>"$work/stderr"; } 2>"$work/time" ||
      { echo "  $label failed:" >&2; tail -n 3 "$work/stderr" >&2; return 1; }
    read -r r u s <"$work/time"
    if [ -z "$t" ] || awk -v a="$r" -v b="$t" 'BEGIN { exit !(a < b) }'; then
      t=$r; c=$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }')
    fi
  done
  echo "$t $c"
}

echo "input: $(basename "$source_fa") unpacked and repeated ten times, $bytes bytes, page-cached" >&2
echo "outputs in: $out" >&2
read -r t_wc c_wc < <(best 3 "wc -l" wc -l "$work/big.fa")
read -r t_dp c_dp < <(best 3 dnaprep "$dnaprep" "$work/" "$out/" bench -q -Q big.fa)
rows=("wc -l|$t_wc|$c_wc" "dnaprep|$t_dp|$c_dp")
# The I/O floor: dnaprep reads the file once and writes 1.25 times its bases (.stdna
# and .stbin); a plain copy to the same output directory shows what that much
# reading and writing costs by itself.
read -r t c < <(best 3 "copy" sh -c "cat '$work/big.fa' >'$out/copy.fa'")
rows+=("cat > copy|$t|$c")
# The peers run once each: they are far slower and only set the scale.
if command -v seqkit >/dev/null; then
  read -r t c < <(best 1 seqkit sh -c "seqkit seq -s -w 0 '$work/big.fa' >'$out/seqkit.txt'")
  rows+=("seqkit seq -s -w 0|$t|$c")
fi
if command -v gt >/dev/null; then
  read -r t c < <(best 1 gt gt encseq encode -indexname "$out/gt" "$work/big.fa")
  rows+=("gt encseq encode|$t|$c")
fi

printf '%-20s %9s %9s %9s %15s\n' tool "wall s" "cpu s" "MB/s" "dnaprep speed"
for row in "${rows[@]}"; do
  IFS='|' read -r name t c <<<"$row"
  awk -v n="$name" -v t="$t" -v c="$c" -v b="$bytes" -v d="$t_dp" \
    'BEGIN { printf "%-20s %9.3f %9.3f %9.1f %14.1f%%\n", n, t, c, b / t / 1e6, 100 * t / d }'
done
awk -v w="$t_wc" -v d="$t_dp" -v cw="$c_wc" -v cd="$c_dp" 'BEGIN {
  printf "dnaprep runs at %.1f%% of the throughput of wc -l by wall time, %.1f%% by CPU time (target: at least 25%%)\n",
         100 * w / d, 100 * cw / cd }'
