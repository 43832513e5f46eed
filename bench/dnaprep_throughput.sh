#!/usr/bin/env bash
# Throughput of dnaprep on a page-cached FASTA of more than 200 MB (a real chromosome,
# repeated ten times: real line lengths, soft-masked lower case, a run of N), next to
# `wc -l` on the same file in the same run; when installed, also the peers that turn
# FASTA into plain or packed sequence: `seqkit seq -s -w 0` and `gt encseq encode`.
#
#   bench/dnaprep_throughput.sh [build-dir] [data-dir]
#
# Defaults: build/ and ../shared/data beside the repository. Each tool runs three
# times; the best wall time counts. The outputs go to a tmpfs directory when one is
# writable (/dev/shm), so that the figures measure the programs rather than the
# disk's block allocation; everything is removed at the end.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
data=$(cd "${2:-$repo/../shared/data}" && pwd)
dnaprep=$build/bin/dnaprep
[ -x "$dnaprep" ] || { echo "no dnaprep in $build/bin (build first)"; exit 1; }
source_fa=$data/dmel_chr2R.fa.gz
[ -f "$source_fa" ] || { echo "missing $source_fa"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/dnaprep-bench.XXXXXX")
if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d /dev/shm/dnaprep-bench.XXXXXX); else out=$work/out; mkdir "$out"; fi
trap 'rm -rf "$work" "$out"' EXIT

gzip -dc "$source_fa" >"$work/one.fa"
for _ in 1 2 3 4 5 6 7 8 9 10; do cat "$work/one.fa"; done >"$work/big.fa"
rm "$work/one.fa"
bytes=$(stat -c %s "$work/big.fa")
cat "$work/big.fa" >/dev/null  # into the page cache

# best <label> <command...>: the best wall time of three runs, in seconds.
best() {
  local label=$1 t s e
  shift
  echo "  \$ $*" >&2
  t=""
  for _ in 1 2 3; do
    s=$(date +%s%N)
    "$@" >"$work/stdout" 2>"$work/stderr" || { echo "  $label failed:" >&2; tail -n 3 "$work/stderr" >&2; return 1; }
    e=$(date +%s%N)
    t=$(awk -v a="$t" -v b="$(( e - s ))" 'BEGIN { b /= 1e9; print (a == "" || b < a) ? b : a }')
  done
  echo "$t"
}

echo "input: $(basename "$source_fa") unpacked and repeated ten times, $bytes bytes, page-cached" >&2
echo "outputs in: $out" >&2
t_wc=$(best "wc -l" wc -l "$work/big.fa")
t_dp=$(best dnaprep "$dnaprep" "$work/" "$out/" bench -q -Q big.fa)
rows=("wc -l|$t_wc" "dnaprep|$t_dp")
if command -v seqkit >/dev/null; then
  rows+=("seqkit seq -s -w 0|$(best seqkit sh -c "seqkit seq -s -w 0 '$work/big.fa' >'$out/seqkit.txt'")")
fi
if command -v gt >/dev/null; then
  rows+=("gt encseq encode|$(best gt gt encseq encode -indexname "$out/gt" "$work/big.fa")")
fi

printf '%-22s %10s %10s %14s\n' tool seconds MB/s "dnaprep speed"
for row in "${rows[@]}"; do
  name=${row%%|*}
  t=${row#*|}
  awk -v n="$name" -v t="$t" -v b="$bytes" -v d="$t_dp" \
    'BEGIN { printf "%-22s %10.3f %10.1f %13.1f%%\n", n, t, b / t / 1e6, 100 * t / d }'
done
awk -v w="$t_wc" -v d="$t_dp" 'BEGIN { printf "dnaprep throughput is %.1f%% of wc -l (target: at least 25%%)\n", 100 * w / d }'
