#!/usr/bin/env bash
# The sorter with threads, on this machine's cores:
#   one run   dmel_chr2R in one run: bare (reads the run text and calls divsufsort, nothing
#             else) against runarray -j 1 and -j 2, where the second thread shares the work
#             after the sort (prefix words, writing the records); target -j 2 within 1.2x
#             of bare's wall time
#   runs      the other genomes of the data folder in one data set, -r set for four runs:
#             runarray -j 1 against -j 2, two runs at once; target -j 2 at most 0.6x of
#             -j 1's wall time. (The chromosome stays out: the longest input sets the
#             least run size, and at half of all bases it would leave no four runs.)
# Each command runs R times; the table gives the best wall time, the CPU time of that
# run, peak resident MB, and every wall time, so that the noise of a shared machine
# shows. The output files of -j 1 and -j 2 are compared byte for byte as well.
#
#   bench/runarray_threads.sh [build dir] [data dir] [runs R]
# Defaults: build, ../shared/data, 3.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
runs=${3:-3}
scratch runarray_threads

cc -O2 -o "$work/bare" "$repo/bench/bare_divsufsort.c" $(pkg-config --cflags --libs libdivsufsort 2>/dev/null || echo -ldivsufsort)

# measure <label> <command...>: R runs; prints "best_wall cpu_of_best peak_MB all_walls".
measure() {
  local label=$1 i best="" line walls=""
  shift
  for ((i = 0; i < runs; i++)); do
    sync
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || {
      echo "$label failed:" >&2; cat "$work/err" >&2; return 1; }
    read -r wall user sys rss <"$work/time"
    walls="$walls${walls:+,}$wall"
    if [ -z "$best" ] || [ "$(echo "$wall < $best" | bc)" = 1 ]; then
      best=$wall; line="$wall $(echo "$user + $sys" | bc) $((rss / 1024))"
    fi
  done
  echo "$line $walls"
}

row() {  # row <set> <program> <wall> <cpu> <MB> <walls> <reference wall>
  printf '%-8s %-14s %8.2f %8.2f %8d %8.2f  %s\n' "$1" "$2" "$3" "$4" "$5" "$(echo "$3 / $7" | bc -l)" "$6"
}

# same <set>: the files of -j 1 and -j 2 agree byte for byte.
same() {
  local dir=$work/$1.ST f
  rm -f "$dir"/*.stpsa "$dir"/*.stplengths
  "$bin/runarray" "$work/" "$1" -q -j 1 "${@:2}" 2>/dev/null && mkdir -p "$work/one" && cp "$dir"/*.stpsa "$dir"/*.stplengths "$work/one/"
  "$bin/runarray" "$work/" "$1" -q -j 2 "${@:2}" 2>/dev/null
  for f in "$work/one"/*; do cmp -s "$f" "$dir/$(basename "$f")" || { echo "$1: $(basename "$f") differs"; return 1; }; done
  echo "$1: -j 2 files identical to -j 1 ($(ls "$work/one" | wc -l) files)"
  rm -rf "$work/one"
}

printf 'machine: %s, %s cores, load %s\n' "$(lscpu | sed -n 's/^Model name: *//p')" "$(nproc)" \
  "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'each command %s times; x = best wall / reference (bare for one run, -j 1 for runs)\n' "$runs"
printf '\n%-8s %-14s %8s %8s %8s %8s  %s\n' set program wall_s cpu_s peak_MB x walls

# One run: the chromosome.
if [ -f "$data/dmel_chr2R.fa.gz" ]; then
  "$bin/dnaprep" "$data/" "$work/" dmel -q dmel_chr2R.fa.gz >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
  dna=("$work/dmel.ST/dmel"_*.stdna)
  read -r w c m a <<<"$(measure bare "$work/bare" "${dna[@]}")"; ref=$w
  row dmel bare "$w" "$c" "$m" "$a" "$ref"
  for j in 1 2; do
    read -r w c m a <<<"$(measure "runarray -j $j" "$bin/runarray" "$work/" dmel -q -j $j)"
    row dmel "runarray -j $j" "$w" "$c" "$m" "$a" "$ref"
  done
  same dmel
  rm -rf "$work/dmel.ST"
else
  echo "skipping dmel: dmel_chr2R.fa.gz not in $data"
fi

# Runs: the other genomes of the folder in one data set, cut into four runs.
genomes=($(cd "$data" && ls *.fa *.fa.gz | grep -v '^dmel_chr2R'))
"$bin/dnaprep" "$data/" "$work/" all -q "${genomes[@]}" >/dev/null 2>"$work/err" || { cat "$work/err"; exit 1; }
total=$(( $(stat -c %s "$work/all.ST/all.stlengths") / 4 + $(cat "$work/all.ST/all"_*.stdna | wc -c) ))
size=$(( total / 4 + total / 50 ))
"$bin/runarray" "$work/" all -q -N -r "$size" 2>/dev/null
pieces=$(( $(stat -c %s "$work/all.ST/all.stplengths") / 4 ))
printf '%-8s %d genomes, %d bytes of run text, -r %d: %d runs\n' all "${#genomes[@]}" "$total" "$size" "$pieces"
read -r w c m a <<<"$(measure "runarray -j 1" "$bin/runarray" "$work/" all -q -r "$size" -j 1)"; ref=$w
row all "runarray -j 1" "$w" "$c" "$m" "$a" "$ref"
read -r w c m a <<<"$(measure "runarray -j 2" "$bin/runarray" "$work/" all -q -r "$size" -j 2)"
row all "runarray -j 2" "$w" "$c" "$m" "$a" "$ref"
same all -r "$size"
