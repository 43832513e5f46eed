#!/usr/bin/env bash
# Repeat finding over whole genomes: the traversal of treequery (standard N and K
# tables with one set per input, -0 -K -1; one set per pair of inputs, -2; identical and
# contained inputs, -e) next to repeat-match -f -n 50 (MUMmer), gt repfind -l 50
# (GenomeTools) and vmatch -l 50, whose indexes are built beforehand, all in one run.
# Prints wall seconds, CPU seconds (user + system) and peak memory of every command,
# the wall-time ratios to repeat-match and to gt repfind, the CPU-time ratio to gt
# repfind (steadier than wall time on a busy machine), and the longest repeat each
# tool reports:
#  - treequery: the longest length in the Standard N table (strings occurring 2 to 99
#    times, counted within one tree);
#  - the others: the longest repeat pair of at least 50 bases (forward strand).
# These agree wherever the longest repeat's occurrences lie in one tree. repeat-match
# reads only the first sequence of a FASTA file, so for data sets of several inputs
# its figure covers the first input alone and is not compared.
#
#   bench/traversal.sh [build-dir] [data-dir] [data sets...]
#
# Data sets: ecoli (E. coli K-12, one input), saureus (four S. aureus genomes, four
# inputs), dmel2R (D. melanogaster arm 2R; slow for repeat-match). Default: ecoli saureus.
# Needs /usr/bin/time and the Debian packages mummer, genometools and vmatch.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_operands ecoli saureus -- "$@"
sets=("${operands[@]}")
need_tools "time mummer genometools vmatch" /usr/bin/time repeat-match gt mkvtree vmatch python3
scratch traversal-bench

# Runs a command with its stdout in $work/out; prints "<wall seconds> <peak KB> <CPU
# seconds>".
measure() {
  echo "  \$ $*" >&2
  /usr/bin/time -f "%e %M %U %S" -o "$work/time" "$@" >"$work/out" 2>"$work/err" ||
    { echo "  failed: $*" >&2; tail -n 5 "$work/err" >&2; exit 1; }
  awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }' "$work/time"
}

# Longest repeat in a treequery output: the greatest Length of the Standard N table.
longest_tq() {
  awk '/^#tab: .*Standard N/ { n = 1; next } /^#tab: / { n = 0 } n && /^ / { if ($(NF - 1) > m) m = $(NF - 1) }
       END { print m + 0 }' "$1"
}

# run <name> <command...>: measures the command in $work under a name of the table.
run() {
  local name=$1
  shift
  read -r "secs[$name]" "mem[$name]" "cpu[$name]" < <(cd "$work" && measure "$@")
}

declare -A source=([ecoli]=ecoli_K12_MG1655.fa [saureus]=saureus_4genomes.fa.gz [dmel2R]=dmel_chr2R.fa.gz)
table=$work/table
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
for g in "${sets[@]}"; do
  [ -n "${source[$g]:-}" ] || { echo "unknown data set $g (ecoli, saureus, dmel2R)"; exit 1; }
  f=$data/${source[$g]}
  if [[ $f == *.gz ]]; then gzip -dc "$f" >"$work/$g.fa"; else cp "$f" "$work/$g.fa"; fi
  inputs=$(grep -c '^>' "$work/$g.fa")
  echo "== $g ($inputs inputs): data set, gt and vmatch indexes (not timed in the table)" >&2
  read -r s _ < <(measure "$bin/dnaprep" "$work/" "$work/" "$g" -q "$g.fa")
  read -r s2 _ < <(measure "$bin/runarray" "$work/" "$g" -q)
  read -r s3 _ < <(measure "$bin/treebuild" "$work/" "$g" -q)
  echo "  pipeline: dnaprep ${s}s, runarray ${s2}s, treebuild ${s3}s ($(ls "$work/$g.ST" | grep -c stree) trees)" >&2
  (cd "$work" && gt suffixerator -db "$g.fa" -indexname "$g.gti" -dna -suf -lcp -tis >/dev/null)
  (cd "$work" && mkvtree -db "$g.fa" -dna -pl -allout -indexname "$g.vi" >/dev/null)

  declare -A secs=() mem=() cpu=() long=()
  for opts in "-0 -K -1" "-2" "-e"; do
    # shellcheck disable=SC2086
    run "treequery $opts" "$bin/treequery" "$work/" "$g" -q $opts
    long["treequery $opts"]=$( [ "$opts" = "-0 -K -1" ] && longest_tq "$work/out" || echo -)
  done
  run "repeat-match -f -n 50" repeat-match -f -n 50 "$g.fa"
  long["repeat-match -f -n 50"]=$(awk 'NR > 2 && $3 > m { m = $3 } END { print m + 0 }' "$work/out")
  run "gt repfind -l 50" gt repfind -ii "$g.gti" -l 50
  long["gt repfind -l 50"]=$(awk '!/^#/ && $1 > m { m = $1 } END { print m + 0 }' "$work/out")
  run "vmatch -l 50" vmatch -l 50 "$g.vi"
  long["vmatch -l 50"]=$(awk '!/^#/ && $1 > m { m = $1 } END { print m + 0 }' "$work/out")

  rm_s=${secs["repeat-match -f -n 50"]}
  gt_s=${secs["gt repfind -l 50"]}
  gt_c=${cpu["gt repfind -l 50"]}
  for name in "treequery -0 -K -1" "treequery -2" "treequery -e" "repeat-match -f -n 50" "gt repfind -l 50" \
    "vmatch -l 50"; do
    python3 -c "
import sys
g, name, s, kb, rm, gt, c, gc, lng = sys.argv[1:]
s, rm, gt, c, gc = float(s), float(rm), float(gt), float(c), float(gc)
r = lambda a, b: f'{a / b:9.2f}' if b > 0 else '      inf'
print(f'{g:<8} {name:<22} {s:8.2f} {c:8.2f} {int(kb) / 1024:8.0f} {r(s, rm)} {r(s, gt)} {r(c, gc)} {lng:>8}')
" "$g" "$name" "${secs[$name]}" "${mem[$name]}" "$rm_s" "$gt_s" "${cpu[$name]}" "$gt_c" "${long[$name]}" >>"$table"
  done
  ours=${long["treequery -0 -K -1"]}
  agree="gt repfind ${long["gt repfind -l 50"]}, vmatch ${long["vmatch -l 50"]}"
  [ "$inputs" -eq 1 ] && agree="$agree, repeat-match ${long["repeat-match -f -n 50"]}"
  verdict=agree
  for other in "gt repfind -l 50" "vmatch -l 50"; do [ "${long[$other]}" = "$ours" ] || verdict=DIFFER; done
  [ "$inputs" -eq 1 ] && [ "${long["repeat-match -f -n 50"]}" != "$ours" ] && verdict=DIFFER
  echo "$g: longest repeat treequery $ours; $agree: $verdict" >>"$work/agree"
  rm -rf "$work/$g.ST" "$work/$g".gti.* "$work/$g".vi.* "$work/$g.fa"
  unset secs mem cpu long
done
echo
echo "wall and CPU seconds and peak memory of each command; ratios are this command's wall"
echo "seconds over repeat-match's and over gt repfind's, and its CPU seconds over gt repfind's,"
echo "on the same data set (below 1: faster)"
printf '%-8s %-22s %8s %8s %8s %9s %9s %9s %8s\n' data command seconds "cpu s" "peak MB" "/rep-mat" "/gt-rep" \
  "cpu/gt" longest
cat "$table"
echo
cat "$work/agree"
