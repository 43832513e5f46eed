#!/usr/bin/env bash
# Speed and memory of the suffix sorter against its floor and two peers, on the same data
# in one run:
#   bare      a tiny program that reads the run text and calls divsufsort, nothing else
#   runarray  the sorter with .stpsa output;  runarray -Z  with the LCP array as well
#   gt suffixerator -dna -suf -lcp   and   mkvtree -dna -pl -allout   on the same FASTA
# Each figure of bare and runarray is the best of R runs, the peers' of one run (CPU =
# user + system seconds, wall seconds, peak resident MB); ratios are against bare's CPU
# and wall times. The memory check compares runarray -Z's peak with 9 bytes per run byte
# (text, suffix array, map/LCP array) plus the buffers it fills (packed inputs, 1 MB of
# output records).
#
#   bench/runarray_bench.sh [build dir] [data dir] [runs R]
# Defaults: build, ../shared/data, 3. Needs genometools and vmatch (apt-get install -y
# genometools vmatch) for the peers; without them their rows say "missing".
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
runs=${3:-3}
scratch runarray_bench

cc -O2 -o "$work/bare" "$repo/bench/bare_divsufsort.c" $(pkg-config --cflags --libs libdivsufsort 2>/dev/null || echo -ldivsufsort)

# best <times> <label> <command...>: runs the command that often, keeps the lowest CPU time.
best() {
  local times=$1 label=$2 i bestcpu="" line
  shift 2
  for ((i = 0; i < times; i++)); do
    sync
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      echo "$label failed:"; cat "$work/err"; return 1; }
    read -r wall user sys rss <"$work/time"
    cpu=$(echo "$user + $sys" | bc)
    if [ -z "$bestcpu" ] || [ "$(echo "$cpu < $bestcpu" | bc)" = 1 ]; then
      bestcpu=$cpu; line="$wall $cpu $rss"
    fi
  done
  echo "$line"
}

printf 'machine: %s, %s cores, load %s\n' "$(lscpu | sed -n 's/^Model name: *//p')" "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'commands (bare and runarray best of %s, peers one run):\n' "$runs"
printf '  %s\n' "bare <run text files>" "runarray <dir>/ <set> -q" "runarray <dir>/ <set> -q -Z" \
  "gt suffixerator -db <fasta> -dna -suf -lcp -indexname <name>" \
  "mkvtree -db <fasta> -dna -pl -allout -indexname <name>"
printf '\n%-10s %-12s %10s %8s %8s %9s %8s %8s\n' set program bases wall_s cpu_s peak_MB x_cpu x_wall

for set in ecoli_K12_MG1655.fa dmel_chr2R.fa.gz saureus_4genomes.fa.gz; do
  [ -f "$data/$set" ] || { echo "skipping $set: not in $data"; continue; }
  name=${set%%.*}; name=${name%%_*}
  fasta=$work/$name.fa
  case $set in *.gz) zcat "$data/$set" >"$fasta" ;; *) cp "$data/$set" "$fasta" ;; esac
  "$bin/dnaprep" "$work/" "$work/" "$name" -q "$name.fa" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  dna=("$work/$name.ST/${name}"_*.stdna)
  bases=$(cat "${dna[@]}" | wc -c)
  count=$((bases + ${#dna[@]}))

  read -r bwall bcpu brss <<<"$(best "$runs" bare "$work/bare" "${dna[@]}")"
  row() { printf '%-10s %-12s %10s %8.2f %8.2f %9.1f %8.2f %8.2f\n' "$name" "$1" "$bases" "$2" "$3" \
            "$(echo "$4 / 1024" | bc -l)" "$(echo "$3 / $bcpu" | bc -l)" "$(echo "$2 / $bwall" | bc -l)"; }
  row bare "$bwall" "$bcpu" "$brss"
  read -r w c r <<<"$(best "$runs" runarray "$bin/runarray" "$work/" "$name" -q)"; row runarray "$w" "$c" "$r"
  read -r w c r <<<"$(best "$runs" runarray-Z "$bin/runarray" "$work/" "$name" -q -Z)"; row runarray-Z "$w" "$c" "$r"
  zrss=$r
  if command -v gt >/dev/null; then
    read -r w c r <<<"$(best 1 gt gt suffixerator -db "$fasta" -dna -suf -lcp -indexname "$work/gt_$name")"
    row gt-suffixer "$w" "$c" "$r"
  else echo "$name gt-suffixer missing"; fi
  if command -v mkvtree >/dev/null; then
    read -r w c r <<<"$(best 1 mkvtree mkvtree -db "$fasta" -dna -pl -allout -indexname "$work/mkv_$name")"
    row mkvtree "$w" "$c" "$r"
  else echo "$name mkvtree missing"; fi
  # 9 bytes per run byte, the packed inputs (a quarter byte per base and 8 bytes per
  # input) and the 1 MB output buffer.
  budget=$(echo "(9 * $count + $bases / 4 + 8 * ${#dna[@]} + 1048576) / 1024" | bc)
  printf '%-10s memory: runarray -Z peak %d KB, budget %d KB, ratio %.3f\n' "$name" "$zrss" "$budget" \
    "$(echo "$zrss / $budget" | bc -l)"
  rm -rf "$work/$name.ST" "$work"/gt_* "$work"/mkv_* "$fasta"
done
