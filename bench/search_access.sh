#!/usr/bin/env bash
# Tree access of dnatrees search: read (records fetched as a descent reaches them),
# mapped (whole trees mapped) and the default, which chooses one per batch. On each
# genome, exact searches of 20-mers in several batch sizes and a Hamming-2 search,
# both strands, TSV rows to a file; each case runs read, mapped and the default in
# turn, three times, and prints the least wall and the least CPU seconds (user +
# system) of each beside the peak resident memory, then the default's ratio to the
# better of read and mapped (the mark: at most 1.2x), and checks that the three wrote
# the same rows. The read Hamming search takes about a minute and runs once.
#
#   bench/search_access.sh [build-dir] [data-dir] [genome-file...]
#
# Defaults: build/ and ../shared/data beside the repository, dmel_chr2R.fa.gz and
# ecoli_K12_MG1655.fa. Environment: EXACT_SIZES ("10 100 3000 100000") exact batch
# sizes, HAMMING (200) Hamming-2 patterns. Needs /usr/bin/time (Debian package time).
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/common.sh"
bench_operands dmel_chr2R.fa.gz ecoli_K12_MG1655.fa -- "$@"
genomes=("${operands[@]}")
need_tools "time g++" /usr/bin/time g++
scratch search-access
cd "$work"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
g++ -O2 -std=c++20 -o draw "$repo/bench/draw_patterns.cpp"

# One run of a command, its rows in $1; sets w (wall), c (CPU), m (peak KiB).
once() {
  local rows=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o time "$@" >"$rows" 2>err || { cat err; exit 1; }
  local u s
  read -r w u s m <time
  c=$(echo "$u + $s" | bc)
}
# A case: the three accesses in turn, ${runs:-3} rounds; prints each one's least wall
# and least CPU (and its command), the default's ratio to the better, and whether the
# rows agree. Arguments: label, then the search's arguments after the data set.
compare() {
  local label=$1 a r best_w best_c
  shift
  declare -A wall cpu peak
  echo "-- $label"
  for ((r = 0; r < ${runs:-3}; r++)); do
    for a in read mapped auto; do
      # The read Hamming search is slow: once is enough to place it.
      [ "$a" = read ] && [ "$r" -gt 0 ] && [ -n "${slow_read:-}" ] && continue
      once "rows.$a" "$bin/dnatrees" search -q --access "$a" "$ds" "$@"
      if [ -z "${wall[$a]:-}" ] || [ "$(echo "$w < ${wall[$a]}" | bc)" = 1 ]; then wall[$a]=$w; fi
      if [ -z "${cpu[$a]:-}" ] || [ "$(echo "$c < ${cpu[$a]}" | bc)" = 1 ]; then cpu[$a]=$c; fi
      peak[$a]=$m
    done
  done
  for a in read mapped auto; do
    printf '  %-8s %7.2f s wall %7.2f s CPU %9d KiB peak\n' "$([ $a = auto ] && echo default || echo $a)" \
      "${wall[$a]}" "${cpu[$a]}" "${peak[$a]}"
  done
  echo "    \$ $bin/dnatrees search -q --access read|mapped|auto $ds $*"
  best_w=$(echo "if (${wall[read]} < ${wall[mapped]}) ${wall[read]} else ${wall[mapped]}" | bc)
  best_c=$(echo "if (${cpu[read]} < ${cpu[mapped]}) ${cpu[read]} else ${cpu[mapped]}" | bc)
  # Runs of a few hundredths of a second are timed to 0.01 s: a floor keeps the ratio sane.
  awk -v d="${wall[auto]}" -v b="$best_w" -v dc="${cpu[auto]}" -v bc="$best_c" 'BEGIN {
    f = 0.02; rw = (d > f ? d : f) / (b > f ? b : f); rc = (dc > f ? dc : f) / (bc > f ? bc : f)
    printf "    default / better: wall %.2fx, CPU %.2fx %s\n", rw, rc, (rw <= 1.2 ? "(within 1.2x)" : "(ABOVE 1.2x)") }'
  cmp -s rows.read rows.mapped && cmp -s rows.read rows.auto || echo "    ROWS DIFFER between the accesses"
}

for genome in "${genomes[@]}"; do
  name=$(basename "$genome"); name=${name%.gz}; name=${name%.fa}
  echo
  echo "== $genome"
  if [[ $genome == *.gz ]]; then gzip -dc "$data/$genome" >"$name.fa"; else cp "$data/$genome" "$name.fa"; fi
  ds=$work/$name
  echo "  \$ $bin/dnatrees index -q $ds $name.fa  (not timed)"
  "$bin/dnatrees" index -q "$ds" "$name.fa"
  # Patterns from the first input's text (a fifth with one base changed, a tenth with two).
  text=$ds/index.ST/index_0.stdna
  sizes=(${EXACT_SIZES:-10 100 3000 100000})
  largest=${sizes[-1]}
  ./draw "$text" "$largest" 20 16 >exact.fa
  for n in "${sizes[@]}"; do
    head -n $((2 * n)) exact.fa >"exact$n.fa"
    compare "exact, $n 20-mers" -f "$work/exact$n.fa"
  done
  ./draw "$text" "${HAMMING:-200}" 20 17 >hamming.fa
  slow_read=1 compare "Hamming 2, ${HAMMING:-200} 20-mers" -m 2 -f "$work/hamming.fa"
  rm -rf "$ds" "$name.fa"
done
