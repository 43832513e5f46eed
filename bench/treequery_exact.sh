#!/usr/bin/env bash
# Exact pattern search speed: 1,000 patterns each of length 12, 20 and 50 (half taken
# from the genome, half of them with one base changed) searched with treequery (trees
# read, and trees mapped with -U), next to vmatch -complete on its prebuilt index and
# the index-free seqkit locate, on the same patterns in the same run. Prints patterns
# per second, the ratios, and whether the occurrence counts of all tools agree.
#
#   bench/treequery_exact.sh [build-dir] [data-dir] [genome-name-filter]
#
# Defaults: build/ and ../shared/data beside the repository; genomes E. coli,
# D. melanogaster 2R and both together. Needs the Debian packages vmatch and seqkit.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
filter=${3:-}
need_tools "vmatch seqkit" mkvtree vmatch seqkit python3
scratch treequery-bench

# Wall seconds of a command (its stdout kept in $work/out).
seconds() {
  local shown="$*"
  [ ${#shown} -gt 160 ] && shown="${shown:0:160}... (${#shown} characters)"
  echo "  \$ $shown" >&2
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >"$work/out" 2>"$work/err" || { echo "  failed: $*" >&2; tail -n 5 "$work/err" >&2; exit 1; }
  t1=$(date +%s.%N)
  python3 -c "print(f'{$t1 - $t0:.3f}')"
}

declare -A source=([ecoli]=ecoli_K12_MG1655.fa [dmel2R]=dmel_chr2R.fa.gz)
genomes=()
for g in ecoli dmel2R; do
  [ -n "$filter" ] && [[ $g != *$filter* ]] && continue
  f=$data/${source[$g]}
  if [[ $f == *.gz ]]; then gzip -dc "$f" >"$work/$g.fa"; else cp "$f" "$work/$g.fa"; fi
  genomes+=("$g")
done
if [ ${#genomes[@]} -gt 1 ]; then
  for g in "${genomes[@]}"; do cat "$work/$g.fa"; done >"$work/all.fa"
  genomes+=(all)
fi

table=$work/table
printf '%-7s %4s %10s %10s %10s %10s | %9s %9s %9s | %s\n' genome len "tq read/s" "tq -U/s" "vmatch/s" \
  "seqkit/s" "-U/seqkit" "-U/vmatch" occurrences "counts agree" >"$table"
for g in "${genomes[@]}"; do
  echo "== $g: building the data set and the vmatch index" >&2
  "$bin/dnaprep" "$work/" "$work/" "$g" -q "$g.fa" >/dev/null 2>&1
  "$bin/runarray" "$work/" "$g" -q 2>/dev/null
  "$bin/treebuild" "$work/" "$g" -q 2>/dev/null
  (cd "$work" && mkvtree -db "$g.fa" -dna -pl -allout -indexname "$g.vi" >/dev/null)
  for len in 12 20 50; do
    # Patterns from the filtered inputs (what every tool sees: wildcards dropped only
    # where none occur), every second one with one base changed.
    python3 - "$work/$g.ST" "$g" "$len" "$work/pats" <<'PY'
import os, random, sys
d, g, n, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
texts = [open(os.path.join(d, f), 'rb').read().decode() for f in sorted(os.listdir(d)) if f.endswith('.stdna')]
random.seed(n)
pats = []
while len(pats) < 1000:
    t = random.choice(texts)
    if len(t) < n: continue
    p = t[(i := random.randrange(len(t) - n + 1)):i + n]
    if len(pats) % 2:
        j = random.randrange(n); p = p[:j] + random.choice([c for c in 'acgt' if c != p[j]]) + p[j + 1:]
    pats.append(p)
open(out + '.txt', 'w').write(','.join(pats))
open(out + '.fa', 'w').write(''.join(f'>p{k}\n{p}\n' for k, p in enumerate(pats)))
PY
    pats=$(cat "$work/pats.txt")
    tr=$(seconds "$bin/treequery" "$work/" "$g" -q -m 1 -p "$pats")
    grep -o '(\([0-9]*\) times\? in' "$work/out" | tr -dc '0-9\n' >"$work/count.tq"
    tu=$(seconds "$bin/treequery" "$work/" "$g" -q -U -m 1 -p "$pats")
    grep -o '(\([0-9]*\) times\? in' "$work/out" | tr -dc '0-9\n' >"$work/count.tqU"
    tv=$(cd "$work" && seconds vmatch -q pats.fa -complete "$g.vi")
    (cd "$work" && vmatch -q pats.fa -complete "$g.vi") | awk '!/^#/ { n[$6]++ } END { for (k = 0; k < 1000; k++) print n[k] + 0 }' >"$work/count.vm"
    ts=$(seconds seqkit locate -j 1 -P -i -f "$work/pats.fa" "$work/$g.fa")
    awk -F '\t' 'NR > 1 { n[substr($2, 2)]++ } END { for (k = 0; k < 1000; k++) print n[k] + 0 }' "$work/out" >"$work/count.sk"
    total=$(awk '{ s += $1 } END { print s }' "$work/count.tq")
    agree=yes
    for other in tqU vm sk; do cmp -s "$work/count.tq" "$work/count.$other" || agree="no ($other differs)"; done
    python3 - "$g" "$len" "$tr" "$tu" "$tv" "$ts" "$total" "$agree" >>"$table" <<'PY'
import sys
g, n, tr, tu, tv, ts, total, agree = sys.argv[1:]
tr, tu, tv, ts = map(float, (tr, tu, tv, ts))
rate = lambda t: 1000 / t if t > 0 else float('inf')
print(f'{g:<7} {n:>4} {rate(tr):10.0f} {rate(tu):10.0f} {rate(tv):10.0f} {rate(ts):10.0f} | '
      f'{ts / tu:9.1f} {tv / tu:9.2f} {total:>9} | {agree}')
PY
  done
  rm -rf "$work/$g.ST" "$work/$g.vi".*
done
echo
echo "patterns per second (1,000 patterns per row; wall time of the whole command, start-up included)"
cat "$table"
