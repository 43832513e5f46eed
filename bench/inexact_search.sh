#!/usr/bin/env bash
# Speed of the search within a Hamming distance: `treequery -H N -U` (trees mapped)
# next to `vmatch -complete -h N`, `bowtie -v N -a --norc` and `seqkit locate -m N`,
# on the same text and the same patterns, in one run. Every tool's result set (pattern,
# position) must equal treequery's; a difference is printed and makes the status 1.
#
#   bench/inexact_search.sh [genome...]        genomes: ecoli (default), dmel2r
#
# Environment: BIN (programs, default build/bin), DATA (genomes, default
# /work/shared/data), WORK (scratch, default /tmp/inexact_bench), PATTERNS (per length,
# default 200), LENGTHS (default "20 32"), DISTANCES (default "1 2 3"), TIMEOUT (seconds
# a peer tool may take per search before it is stopped and shown as "timeout"; default none).
# Patterns are windows of the text at random places (fixed seed) with one base changed.
# Indexes are built before timing; the times are of the searches alone, wall clock and
# CPU (user + system), as patterns per second; "x ours" is the tool's wall time over
# treequery's and "cpu x ours" the same for CPU time (steadier on a busy machine).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
BIN=${BIN:-$repo/build/bin}
DATA=${DATA:-/work/shared/data}
WORK=${WORK:-/tmp/inexact_bench}
PATTERNS=${PATTERNS:-200}
LENGTHS=${LENGTHS:-20 32}
DISTANCES=${DISTANCES:-1 2 3}
genomes=("$@")
[ ${#genomes[@]} -gt 0 ] || genomes=(ecoli)

for tool in vmatch mkvtree bowtie bowtie-build seqkit; do
  command -v $tool >/dev/null || { echo "missing $tool: apt-get install -y vmatch bowtie seqkit" >&2; exit 2; }
done
mkdir -p "$WORK"
rm -f "$WORK/commands.log"
status=0

# run <name> <command...>: runs the command with stdout to $WORK/<name>.out and
# leaves "wall cpu" in $WORK/<name>.time, or "timeout" when TIMEOUT stopped it.
run() {
  local name=$1 limit=()
  shift
  echo "\$ $*" >>"$WORK/commands.log"
  if [ -n "${TIMEOUT:-}" ] && [ "$1" != "$BIN/treequery" ]; then limit=(timeout "$TIMEOUT"); fi
  local rc=0
  "${limit[@]}" /usr/bin/time -f "%e %U %S" -o "$WORK/$name.rawtime" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" || rc=$?
  if [ $rc = 124 ] && [ ${#limit[@]} -gt 0 ]; then
    echo timeout >"$WORK/$name.time"
    return
  fi
  [ $rc = 0 ] || { echo "failed: $* (see $WORK/$name.err)" >&2; exit 1; }
  awk '{printf "%.2f %.2f\n", $1, $2 + $3}' "$WORK/$name.rawtime" >"$WORK/$name.time"
}

# Result sets as sorted "pattern position" lines (pattern from 0, position from 0).
ours_hits() { awk '/^#tab:/{k++; next} /^#/{next} NF==6{print k - 1, $3}' "$1" | sort -n -k1,1 -k2,2; }
vmatch_hits() { awk '!/^#/ && NF>=7{print $6, $3}' "$1" | sort -n -k1,1 -k2,2; }
bowtie_hits() { awk -F'\t' '{sub(/^p/, "", $1); print $1, $4}' "$1" | sort -n -k1,1 -k2,2; }
seqkit_hits() { awk -F'\t' 'NR>1{sub(/^p/, "", $2); print $2, $5 - 1}' "$1" | sort -n -k1,1 -k2,2; }

printf '%-7s %3s %2s  %-9s %8s %8s %10s %7s %10s %6s  %s\n' genome len HD tool wall_s cpu_s patterns/s "x ours" "cpu x ours" hits agree
for genome in "${genomes[@]}"; do
  case $genome in
    ecoli) fasta=$DATA/ecoli_K12_MG1655.fa ;;
    dmel2r) fasta=$DATA/dmel_chr2R.fa.gz ;;
    *) echo "unknown genome $genome" >&2; exit 2 ;;
  esac
  dir=$WORK/$genome
  mkdir -p "$dir"
  if [ ! -s "$dir/$genome.ST/$genome.stdiv" ]; then
    case $fasta in
      *.gz) zcat "$fasta" >"$dir/genome.fa" ;;
      *) cp "$fasta" "$dir/genome.fa" ;;
    esac
    {
      "$BIN/dnaprep" "$dir/" "$dir/" "$genome" -q genome.fa >/dev/null
      "$BIN/runarray" "$dir/" "$genome" -q
      "$BIN/treebuild" "$dir/" "$genome" -q
    } 2>>"$WORK/build.log"
    # Every tool searches the text that treequery searches: the filtered input.
    { echo ">$genome"; fold -w 80 "$dir/$genome.ST/${genome}_0.stdna"; echo; } >"$dir/text.fa"
    mkvtree -db "$dir/text.fa" -dna -pl -allout -indexname "$dir/vi" >>"$WORK/build.log" 2>&1
    bowtie-build -q "$dir/text.fa" "$dir/bt" >>"$WORK/build.log" 2>&1
  fi
  for len in $LENGTHS; do
    pats=$dir/pats$len
    awk -v n="$PATTERNS" -v L="$len" -v seed=$((len * 7919)) '
      BEGIN { srand(seed) }
      { t = t $0 }
      END {
        for (i = 0; i < n; i++) {
          s = substr(t, int(rand() * (length(t) - L)) + 1, L)
          j = int(rand() * L) + 1
          c = substr(s, j, 1); d = substr("acgt", int(rand() * 3) + 1, 1)
          if (d == c) d = "t"
          print ">p" i; print substr(s, 1, j - 1) d substr(s, j + 1)
        }
      }' "$dir/$genome.ST/${genome}_0.stdna" >"$pats.fa"
    list=$(awk '!/^>/' "$pats.fa" | paste -sd, -)
    for hd in $DISTANCES; do
      tag=$genome.$len.$hd
      run "$tag.ours" "$BIN/treequery" "$dir/" "$genome" -q -U -H "$hd" -p "$list"
      run "$tag.vmatch" vmatch -q "$pats.fa" -complete -h "$hd" "$dir/vi"
      run "$tag.bowtie" bowtie -f -v "$hd" -a --norc "$dir/bt" "$pats.fa"
      run "$tag.seqkit" seqkit locate -j 1 -P -m "$hd" -f "$pats.fa" "$dir/text.fa"
      ours_hits "$WORK/$tag.ours.out" >"$WORK/$tag.ours.hits"
      vmatch_hits "$WORK/$tag.vmatch.out" >"$WORK/$tag.vmatch.hits"
      bowtie_hits "$WORK/$tag.bowtie.out" >"$WORK/$tag.bowtie.hits"
      seqkit_hits "$WORK/$tag.seqkit.out" >"$WORK/$tag.seqkit.hits"
      read -r ours_wall ours_cpu <"$WORK/$tag.ours.time"
      for tool in ours vmatch bowtie seqkit; do
        read -r wall cpu <"$WORK/$tag.$tool.time"
        if [ "$wall" = timeout ]; then
          printf '%-7s %3s %2s  %-9s %8s\n' "$genome" "$len" "$hd" $tool "timeout after $TIMEOUT s"
          continue
        fi
        hits=$(wc -l <"$WORK/$tag.$tool.hits")
        agree=yes
        if ! cmp -s "$WORK/$tag.ours.hits" "$WORK/$tag.$tool.hits"; then
          agree="NO (diff $WORK/$tag.ours.hits $WORK/$tag.$tool.hits)"
          status=1
        fi
        printf '%-7s %3s %2s  %-9s %8s %8s %10.0f %7.1f %10.1f %6s  %s\n' "$genome" "$len" "$hd" \
          "$([ $tool = ours ] && echo treequery || echo $tool)" "$wall" "$cpu" \
          "$(awk -v n="$PATTERNS" -v w="$wall" 'BEGIN{print n / (w > 0 ? w : 0.01)}')" \
          "$(awk -v a="$wall" -v b="$ours_wall" 'BEGIN{print (a > 0.01 ? a : 0.01) / (b > 0.01 ? b : 0.01)}')" \
          "$(awk -v a="$cpu" -v b="$ours_cpu" 'BEGIN{print (a > 0.01 ? a : 0.01) / (b > 0.01 ? b : 0.01)}')" "$hits" "$agree"
      done
    done
  done
done
echo
echo "commands (patterns elided):"
sed -E 's/-p [acgt,]{80,}/-p <patterns>/' "$WORK/commands.log" | awk '!seen[$0]++'
rm -f "$WORK/commands.log"
exit $status
