#!/usr/bin/env bash
# Redundant sequences and repeats on both strands, beside the peers on the same data:
# dnatrees redundant on the 3,994 16S sequences against seqkit rmdup -s (and -s -i for
# the identical set), dnatrees repeats on the four S. aureus genomes against gt repfind
# (forward -l 1000, and -p -l 1000 for inverted repeats) on its prebuilt index. Index
# builds are not timed against each other. Each command runs three times (gt -p, which
# takes minutes, once; the machine is shared) and the run of least CPU time counts;
# prints wall and CPU seconds, peak memory, the ratios and the commands, checks that
# every pair gt repfind reports is two copies of one listed repeat of the same length
# (on opposite strands for -p), and prints the ten longest lengths of each.
#
#   bench/both_strands.sh [build-dir] [data-dir]
#
# Needs the Debian packages seqkit and genometools (apt-get install -y seqkit
# genometools) and /usr/bin/time.
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
need_tools "seqkit genometools time" seqkit gt /usr/bin/time
scratch both-strands-bench
cd "$work"

# Runs a command $runs times (default 3; its output to $keep, default dropped); sets
# wall, cpu (user + system seconds) and peak (resident KiB) from the run of least CPU
# time, which the other engineers' load on a shared machine disturbs least.
measure() {
  local i w u sy m c
  cpu=""
  for ((i = 0; i < ${runs:-3}; i++)); do
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >"${keep:-/dev/null}" 2>"$work/err" || { cat "$work/err"; exit 1; }
    read -r w u sy m <"$work/time"
    c=$(echo "$u + $sy" | bc)
    if [ -z "$cpu" ] || [ "$(echo "$c < $cpu" | bc)" = 1 ]; then wall=$w cpu=$c peak=$m; fi
  done
}
# Measures a command and prints its figures, the command on the line below; leaves them
# in <key>_wall, <key>_cpu.
report() {
  local label=$1 key=$2
  shift 2
  measure "$@"
  printf '%-44s %6.2f s wall %6.2f s CPU %8d KiB peak\n' "$label" "$wall" "$cpu" "$peak"
  echo "    \$ $*"
  printf -v "${key}_wall" %s "$wall"
  printf -v "${key}_cpu" %s "$cpu"
}
ratio() {
  local ow=${1}_wall oc=${1}_cpu pw=${2}_wall pc=${2}_cpu
  echo "wall $(echo "scale=3; ${!ow} / ${!pw}" | bc), CPU $(echo "scale=3; ${!oc} / ${!pc}" | bc)"
}

echo "== building the indexes (not timed)" >&2
gzip -dc "$data/bact_16S_3994.fa.gz" >16s.fa
gzip -dc "$data/saureus_4genomes.fa.gz" >sa4.fa
"$bin/dnatrees" index -q d16s 16s.fa
"$bin/dnatrees" index -q dsa4 sa4.fa
gt suffixerator -db sa4.fa -indexname sa4 -dna -suf -tis -lcp -des -ssp -sds >/dev/null

echo "== redundant sequences: 3,994 16S sequences"
report "dnatrees redundant" ours "$bin/dnatrees" redundant -q -o red.tsv d16s
report "seqkit rmdup -s" peer seqkit rmdup -s -o /dev/null 16s.fa
echo "ratio dnatrees / seqkit: $(ratio ours peer)"
seqkit rmdup -s -i -D dup.txt -o /dev/null 16s.fa 2>/dev/null
echo "identical rows: $(grep -c '^identical' red.tsv || true); seqkit -s -i duplicated records: $(awk -F'\t' '{n += $1 - 1} END {print n + 0}' dup.txt 2>/dev/null || echo 0)"

echo "== repeats: four S. aureus genomes"
keep=fwd.txt report "gt repfind -l 1000" peer gt repfind -l 1000 -ii sa4
report "dnatrees repeats --top 20" ours "$bin/dnatrees" repeats -q --top 20 -o top.tsv dsa4
echo "ratio dnatrees --top 20 / gt repfind: $(ratio ours peer)"
report "dnatrees repeats --min-length 1000 --top 0" ours "$bin/dnatrees" repeats -q --min-length 1000 --top 0 -o all.tsv dsa4
echo "ratio: $(ratio ours peer)"
# gt's inverted search takes minutes here: timed once, its pairs kept for the check.
keep=pal.txt runs=1 report "gt repfind -p -l 1000" peer gt repfind -p -l 1000 -ii sa4
report "dnatrees repeats --inverted --top 20" ours "$bin/dnatrees" repeats -q --inverted --top 20 -o itop.tsv dsa4
echo "ratio: $(ratio ours peer)"
report "dnatrees repeats --inverted -l 1000 --top 0" ours "$bin/dnatrees" repeats -q --inverted --min-length 1000 --top 0 -o inv.tsv dsa4
echo "ratio: $(ratio ours peer)"

# Every gt pair must be two copies of one listed repeat of that length, on one strand
# (F) or on opposite strands (P). gt's lines: length, sequence number, 0-based start,
# F or P, then the same for the second copy; sequence numbers follow the data set's
# input order (the names catalogue's rows after its header).
check() {
  awk -F'\t' -v label="$1" 'FILENAME == ARGV[1] { if (FNR > 1) idx[$1] = FNR - 2; next }
    FILENAME == ARGV[2] { if (FNR > 1) { k = idx[$4] ":" $5 - 1 ":" $2; at[k] = at[k] " " $1 "," $7 " "
        if (label == "forward" || $7 == "-") if ($2 > ours) ours = $2 }; next }
    /^#/ { next }
    { split($0, f, " "); n++; a = at[f[2] ":" f[3] ":" f[1]]; b = at[f[6] ":" f[7] ":" f[5]]; ok = 0
      if (f[1] == f[5]) {
        m = split(a, x, " ")
        for (i = 1; i <= m; i++) {
          split(x[i], y, ","); s = y[2]
          if (f[4] == "P") s = s == "+" ? "-" : "+"
          if (index(b, " " y[1] "," s " ")) ok = 1
        }
      }
      if (!ok) bad++; if (f[1] > theirs) theirs = f[1] }
    END { printf "%s: %d gt pairs, %d not two copies of one listed repeat; longest %d (gt %d)\n", label, n, bad, ours, theirs }' \
    dsa4/index.ST/index.stnames "$2" "$3"
}
check "forward" all.tsv fwd.txt
check "inverted" inv.tsv pal.txt
echo "ten longest (forward):  $(awk -F'\t' 'NR > 1 && !s[$1]++ {print $2}' all.tsv | uniq | head -10 | tr '\n' ' ')"
echo "ten longest (gt):       $(grep -v '^#' fwd.txt | awk '{print $1}' | sort -nru | head -10 | tr '\n' ' ')"
echo "ten longest with a '-' copy: $(awk -F'\t' '$7 == "-" && !s[$1]++ {print $2}' inv.tsv | uniq | head -10 | tr '\n' ' ')"
echo "ten longest (gt -p):    $(grep -v '^#' pal.txt | awk '{print $1}' | sort -nru | head -10 | tr '\n' ' ')"
