#!/usr/bin/env bash
# dnaprep reading a gzip FASTA directly, against `zcat file > /dev/null` on the same
# file (one run each); then, on the file uncompressed, dnaprep with and without -N
# (names catalogue and coordinate map; best of three runs each, since the difference
# is small) and the size of those two files per removed stretch.
#
#   bench/dnaprep_gzip.sh [build-dir] [data-dir]
#
# Defaults: build/ and ../shared/data beside the repository; the file is
# dmel_chr2R.fa.gz (real N runs, soft-masked lower case). Outputs go to /dev/shm when
# it is writable, so that the disk's block allocation stays out of the figures.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
dnaprep=$build/bin/dnaprep
[ -x "$dnaprep" ] || { echo "no dnaprep in $build/bin (build first)"; exit 1; }
gz=$data/dmel_chr2R.fa.gz
[ -f "$gz" ] || { echo "missing $gz"; exit 1; }

scratch dnaprep-gzip --shm

best() {  # least wall seconds of three runs
  local b="" t
  for _ in 1 2 3; do
    t=$(seconds "$@")
    if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then b=$t; fi
  done
  echo "$b"
}
cat "$gz" >/dev/null  # into the page cache

zcat_s=$(seconds sh -c "zcat '$gz' >/dev/null")
gz_s=$(seconds "$dnaprep" "$data/" "$out/" g -q -Q dmel_chr2R.fa.gz)
printf 'gzip input (%s, %d bytes):\n' "$(basename "$gz")" "$(stat -c %s "$gz")"
printf '  zcat > /dev/null     %6.2f s\n' "$zcat_s"
printf '  dnaprep on the .gz   %6.2f s   (%.2fx zcat)\n' "$gz_s" "$(echo "$gz_s / $zcat_s" | bc -l)"

gzip -dc "$gz" >"$work/chr2R.fa"
plain_s=$(best "$dnaprep" "$work/" "$out/" p -q -Q chr2R.fa)
names_s=$(best "$dnaprep" "$work/" "$out/" n -q -Q -N chr2R.fa)
# removed stretches: runs of characters other than bases, line breaks left out, never
# across a header (each header becomes one H)
stretches=$(sed 's/^>.*/H/' "$work/chr2R.fa" | tr -d '\n' | tr -c 'acgtACGTH' 'N' | grep -o 'N\+' | wc -l)
map_bytes=$(stat -c %s "$out/n.ST/n.stmap")
names_bytes=$(stat -c %s "$out/n.ST/n.stnames")
printf 'uncompressed (%d bytes), best of 3:\n' "$(stat -c %s "$work/chr2R.fa")"
printf '  dnaprep              %6.3f s\n' "$plain_s"
printf '  dnaprep -N           %6.3f s   (%+.1f%%)\n' "$names_s" "$(echo "($names_s / $plain_s - 1) * 100" | bc -l)"
printf '  removed stretches    %d\n' "$stretches"
printf '  .stmap               %d bytes (%.2f bytes per stretch)\n' "$map_bytes" \
  "$(echo "$map_bytes / ($stretches + (${stretches} == 0))" | bc -l)"
printf '  .stnames             %d bytes\n' "$names_bytes"
