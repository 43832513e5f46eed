#!/usr/bin/env bash
# Whole index build (dnaprep, runarray, treebuild) on each genome of a data directory
# and on all of them together: wall time and peak memory of each stage, trees written,
# node records per suffix; next to it, on the same FASTA in the same run, the peers
# that build comparable indexes: mkvtree -allout, gt suffixerator -suf -lcp -tis and
# MUMmer's in-memory suffix tree (mummer -maxmatch -l 20 against a few patterns).
#
#   bench/treebuild_build.sh [build-dir] [data-dir] [genome-name-filter]
#
# Defaults: build/ and ../shared/data beside the repository. Needs GNU time and the
# Debian packages vmatch, genometools and mummer.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
filter=${3:-}
need_tools "time vmatch genometools mummer" /usr/bin/time mkvtree gt mummer
scratch treebuild-bench

# Runs a command under GNU time; appends "<seconds> <peak KiB>" to $work/last.
measure() {
  echo "  \$ $*" >&2
  /usr/bin/time -f "%e %M" -o "$work/last" "$@" >"$work/out" 2>"$work/err" || {
    echo "  failed: $*" >&2; tail -n 5 "$work/err" >&2; echo "fail 0" >"$work/last"; }
  cat "$work/last"
}

genomes=()
for f in "$data"/*.fa "$data"/*.fa.gz; do
  [ -e "$f" ] || continue
  name=$(basename "$f"); name=${name%.gz}; name=${name%.fa}
  [ -n "$filter" ] && [[ $name != *$filter* ]] && continue
  if [[ $f == *.gz ]]; then gzip -dc "$f" >"$work/$name.fa"; else cp "$f" "$work/$name.fa"; fi
  genomes+=("$name")
done
[ ${#genomes[@]} -gt 0 ] || { echo "no genomes in $data"; exit 1; }
if [ ${#genomes[@]} -gt 1 ]; then
  for g in "${genomes[@]}"; do cat "$work/$g.fa"; echo; done >"$work/all.fa"
  genomes+=("all")
fi

printf '%-22s %10s | %14s %14s %14s | %8s %7s | %14s %14s %14s | %8s %8s %8s\n' \
  genome bases "dnaprep s/MiB" "runarray s/MiB" "treebuild s/MiB" trees rec/suf \
  "mkvtree s/MiB" "gt-suf s/MiB" "mummer s/MiB" "vs mkv" "vs mum" "mem/mkv"
for g in "${genomes[@]}"; do
  echo "== $g" >&2
  fa=$work/$g.fa
  # A few patterns taken from the genome itself, for MUMmer's tree build.
  awk '!/^>/ { s = s $0; if (length(s) >= 500) exit }
       END { for (i = 0; i < 10; i++) printf ">p%d\n%s\n", i + 1, substr(s, i * 50 + 1, 50) }' "$fa" >"$work/pats.fa"
  rm -rf "$work/$g.ST"
  read -r t1 m1 < <(measure "$bin/dnaprep" "$work/" "$work/" "$g" -q -Q "$g.fa")
  read -r t2 m2 < <(measure "$bin/runarray" "$work/" "$g" -q)
  read -r t3 m3 < <(measure "$bin/treebuild" "$work/" "$g" -q)
  bases=$(od -A n -t d4 -v "$work/$g.ST/$g.stlengths" | awk '{ for (i = 1; i <= NF; i++) s += $i } END { print s + 0 }')
  trees=$(ls "$work/$g.ST/" | grep -c '\.stree$' || true)
  records=$(cat "$work/$g.ST/"*.stree | wc -c | awk '{ print $1 / 12 }')
  read -r tv mv < <(measure mkvtree -db "$fa" -dna -pl -allout -indexname "$work/vi")
  read -r tg mg < <(measure gt suffixerator -db "$fa" -indexname "$work/gti" -dna -suf -lcp -tis)
  read -r tm mm < <(measure mummer -maxmatch -l 20 "$fa" "$work/pats.fa")
  rm -rf "$work/$g.ST" "$work"/vi.* "$work"/gti.*
  awk -v g="$g" -v n="$bases" -v t1="$t1" -v m1="$m1" -v t2="$t2" -v m2="$m2" -v t3="$t3" -v m3="$m3" \
      -v trees="$trees" -v rec="$records" -v tv="$tv" -v mv="$mv" -v tg="$tg" -v mg="$mg" -v tm="$tm" -v mm="$mm" 'BEGIN {
    ours = t1 + t2 + t3; peak = m1; if (m2 > peak) peak = m2; if (m3 > peak) peak = m3
    printf "%-22s %10d | %6.2f %7.1f %6.2f %7.1f %6.2f %7.1f | %8d %7.3f | %6.2f %7.1f %6.2f %7.1f %6.2f %7.1f | %8.2f %8.2f %8.2f\n",
      g, n, t1, m1 / 1024, t2, m2 / 1024, t3, m3 / 1024, trees, (n > 0 ? rec / n : 0),
      tv, mv / 1024, tg, mg / 1024, tm, mm / 1024,
      (tv + 0 > 0 ? ours / tv : 0), (tm + 0 > 0 ? ours / tm : 0), (mv + 0 > 0 ? peak / mv : 0) }'
done
echo "vs mkv, vs mum: whole build time (three stages) divided by mkvtree's and MUMmer's; mem/mkv: peak memory of the largest stage divided by mkvtree's."
