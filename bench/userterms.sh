#!/usr/bin/env bash
# Patterns in the user's terms on D. melanogaster 2R: 100,000 20-mers drawn from the
# genome (a fifth with one base changed, a tenth with two) in a FASTA file, both
# strands, rows with names and FASTA coordinates (treequery -f P.fa -B -F tsv), beside
# vmatch -complete -d -p on its prebuilt index and bowtie -a (-v 0 and -v 2) on its.
# Prints wall seconds and peak memory of every run (treequery's for 10,000 and
# 100,000 patterns) and checks that the sets of (pattern, sequence, 0-based FASTA
# position, strand) agree after converting the coordinates.
#
#   bench/userterms.sh [build-dir] [data-dir]
#
# Needs the Debian packages vmatch and bowtie (apt-get install -y vmatch bowtie) and
# /usr/bin/time.
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
need_tools "vmatch bowtie time g++" mkvtree vmatch bowtie bowtie-build g++ /usr/bin/time
scratch userterms-bench
cd "$work"

# Runs a command with its stdout in the named file; prints "label seconds peak-MiB".
run() {
  local label=$1 out=$2
  shift 2
  echo "  \$ $*" >&2
  /usr/bin/time -f '%e %M' -o time.txt "$@" >"$out" 2>err.txt || { tail -n 5 err.txt >&2; exit 1; }
  read -r secs kib <time.txt
  printf '%-28s %8.2f s %8.1f MiB\n' "$label" "$secs" "$(echo "$kib" | awk '{print $1 / 1024}')"
}

echo "== building the indexes (not timed against each other)" >&2
gzip -dc "$data/dmel_chr2R.fa.gz" >g.fa
run "dnaprep -N" /dev/null "$bin/dnaprep" ./ ./ dm -q -N g.fa
run "runarray" /dev/null "$bin/runarray" ./ dm -q
run "treebuild" /dev/null "$bin/treebuild" ./ dm -q
run "mkvtree" /dev/null mkvtree -db g.fa -dna -pl -allout -indexname g.vi
run "bowtie-build" /dev/null bowtie-build -q g.fa g.bt

g++ -O2 -std=c++20 -o draw "$repo/bench/draw_patterns.cpp"
./draw dm.ST/dm_0.stdna 100000 20 20240611 >P100k.fa
head -n 20000 P100k.fa >P10k.fa
ref=$(head -n 1 g.fa | sed 's/^>//; s/[[:space:]].*//')

echo "== searches (100,000 patterns unless said)" >&2
run "treequery 10k exact" tq10k.tsv "$bin/treequery" ./ dm -q -f P10k.fa -B -F tsv
run "treequery exact" tq0.tsv "$bin/treequery" ./ dm -q -f P100k.fa -B -F tsv
run "treequery exact -U" tq0u.tsv "$bin/treequery" ./ dm -q -U -f P100k.fa -B -F tsv
run "vmatch -complete -d -p" vm.out vmatch -q P100k.fa -complete -d -p g.vi
run "bowtie -v 0 -a" bt0.out bowtie -f -v 0 -a g.bt P100k.fa
run "treequery 10k -H 2 -U" tq10k2.tsv "$bin/treequery" ./ dm -q -U -H 2 -f P10k.fa -B -F tsv
run "treequery -H 2 -U" tq2.tsv "$bin/treequery" ./ dm -q -U -H 2 -f P100k.fa -B -F tsv
run "bowtie -v 2 -a" bt2.out bowtie -f -v 2 -a g.bt P100k.fa

# (pattern, sequence, 0-based FASTA position, strand), one a line.
tqset() { awk -F'\t' 'NR > 1 { print $1 "\t" $3 "\t" $4 - 1 "\t" $6 }' "$1" | sort -u; }
btset() { awk -F'\t' '{ split($3, r, " "); print $1 "\t" r[1] "\t" $4 "\t" $2 }' "$1" | sort -u; }
# vmatch: database length, sequence, position, D or P, query length, query number...
vmset() {
  awk -v ref="$ref" '!/^#/ { print "p" $6 "\t" ref "\t" $3 "\t" ($4 == "D" ? "+" : "-") }' "$1" | sort -u
}
compare() {
  local what=$1 a=$2 b=$3
  local only_a only_b
  only_a=$(comm -23 "$a" "$b" | wc -l)
  only_b=$(comm -13 "$a" "$b" | wc -l)
  if [ "$only_a" -eq 0 ] && [ "$only_b" -eq 0 ]; then
    echo "$what: sets agree ($(wc -l <"$a") occurrences)"
  else
    echo "$what: sets DIFFER: $only_a only in treequery, $only_b only in the peer (of $(wc -l <"$a"))"
    comm -3 "$a" "$b" | head -n 5
  fi
}
tqset tq0.tsv >s.tq0
tqset tq0u.tsv >s.tq0u
tqset tq2.tsv >s.tq2
vmset vm.out >s.vm
btset bt0.out >s.bt0
btset bt2.out >s.bt2
compare "exact, read vs -U" s.tq0 s.tq0u
compare "exact vs vmatch" s.tq0 s.vm
compare "exact vs bowtie -v 0" s.tq0 s.bt0
compare "-H 2 vs bowtie -v 2" s.tq2 s.bt2
