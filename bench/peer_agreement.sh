#!/usr/bin/env bash
# dnatrees search against the peers, row for row, on real genomes:
#  - Hamming 2: `dnatrees search --format bed -m 2` against `bowtie -f -v 2 -a` (both
#    strands), 20-mers drawn from the genome (a fifth with one base changed, a tenth
#    with two), compared as sets of (pattern, sequence, 0-based start, strand);
#  - IUPAC codes: the same 20-mers with three bases each replaced by a code of their set
#    (R Y S W K M B D H V N, a tenth of them by a code without the base), `dnatrees
#    search` against `seqkit locate -d -i` (both strands), compared as sets of
#    (pattern, sequence, 1-based start, end, strand).
# Prints the commands, the rows of each side, the rows they share and the first rows of
# either side alone; the last line says whether every genome agreed (status 1 if not).
#
#   bench/peer_agreement.sh [build-dir] [data-dir] [genome-file...]
#
# Defaults: build/ and ../shared/data beside the repository, the S. aureus USA300
# contigs (767 sequences) and the 3,994 16S genes (N and other IUPAC codes in the
# sequences). Environment: HAMMING (1000) and IUPAC (200) pattern counts. Needs the
# Debian packages bowtie and seqkit (apt-get install -y bowtie seqkit).
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/common.sh"
bench_operands saureus_usa300_contigs.fa.gz bact_16S_3994.fa.gz -- "$@"
genomes=("${operands[@]}")
need_tools "bowtie seqkit g++" bowtie bowtie-build seqkit g++
scratch peer-agreement
cd "$work"
g++ -O2 -std=c++20 -o draw "$repo/bench/draw_patterns.cpp"

show() {
  echo "  \$ $*"
  "$@"
}
# compare <what> <ours> <theirs> <peer>: two sorted sets of rows.
disagreements=0
compare() {
  local what=$1 ours=$2 theirs=$3 peer=$4
  local both only_ours only_theirs
  both=$(comm -12 "$ours" "$theirs" | wc -l)
  only_ours=$(comm -23 "$ours" "$theirs" | wc -l)
  only_theirs=$(comm -13 "$ours" "$theirs" | wc -l)
  echo "  $what: dnatrees $(wc -l <"$ours") rows, $peer $(wc -l <"$theirs"), shared $both," \
    "dnatrees alone $only_ours, $peer alone $only_theirs"
  if [ "$only_ours" -gt 0 ] || [ "$only_theirs" -gt 0 ]; then
    disagreements=$((disagreements + 1))
    comm -23 "$ours" "$theirs" | head -n 5 | sed 's/^/    dnatrees alone: /'
    comm -13 "$ours" "$theirs" | head -n 5 | sed "s/^/    $peer alone: /"
  fi
}

for genome in "${genomes[@]}"; do
  name=$(basename "$genome"); name=${name%.gz}; name=${name%.fa}
  echo
  echo "== $genome"
  if [[ $genome == *.gz ]]; then gzip -dc "$data/$genome" >g.fa; else cp "$data/$genome" g.fa; fi
  rm -rf ds g.bt*
  show "$bin/dnatrees" index -q ds g.fa
  show bowtie-build -q g.fa g.bt
  ./draw ds/index.ST/index_0.stdna "${HAMMING:-1000}" 20 16 >hamming.fa

  echo "-- Hamming 2, $(grep -c '>' hamming.fa) 20-mers, both strands"
  show "$bin/dnatrees" search -q --format bed -m 2 -f hamming.fa -o ours.bed ds
  show bowtie -f -v 2 -a g.bt hamming.fa bowtie.out 2>/dev/null
  awk -F'\t' '{ print $4 "\t" $1 "\t" $2 "\t" $6 }' ours.bed | sort -u >ours.set
  # bowtie: read, strand, reference (its header's first word), 0-based offset, ...
  awk -F'\t' '{ split($3, r, " "); print $1 "\t" r[1] "\t" $4 "\t" $2 }' bowtie.out | sort -u >bowtie.set
  compare "(pattern, sequence, start, strand)" ours.set bowtie.set bowtie

  # Three bases of each pattern become IUPAC codes: one of the base's codes, or in a
  # tenth of the patterns one without it.
  awk -v seed=21 'BEGIN { srand(seed)
      with["A"] = "RWMDHVN"; with["C"] = "YSMBHVN"; with["G"] = "RSKBDVN"; with["T"] = "YWKBDHN"
      without["A"] = "YSKB"; without["C"] = "RWKD"; without["G"] = "YWMH"; without["T"] = "RSMV" }
    /^>/ { print; n++; next }
    { p = toupper($0)
      for (k = 0; k < 3; k++) {
        i = 1 + int(rand() * length(p)); b = substr(p, i, 1)
        if (!(b in with)) continue
        set = (n % 10 == 0 && k == 0) ? without[b] : with[b]
        p = substr(p, 1, i - 1) substr(set, 1 + int(rand() * length(set)), 1) substr(p, i + 1)
      }
      print p }' <(head -n $((2 * ${IUPAC:-200})) hamming.fa) >iupac.fa

  echo "-- IUPAC codes, $(grep -c '>' iupac.fa) 20-mers, both strands"
  show "$bin/dnatrees" search -q -f iupac.fa -o ours.tsv ds
  show seqkit locate -j 2 -d -i -f iupac.fa -o seqkit.tsv g.fa
  awk -F'\t' 'NR > 1 { print $1 "\t" $3 "\t" $4 "\t" $5 "\t" $6 }' ours.tsv | sort -u >ours.set
  # seqkit: seqID, patternName, pattern, strand, start, end, matched.
  awk -F'\t' 'NR > 1 { split($1, id, " "); print $2 "\t" id[1] "\t" $5 "\t" $6 "\t" $4 }' seqkit.tsv |
    sort -u >seqkit.set
  compare "(pattern, sequence, start, end, strand)" ours.set seqkit.set seqkit
done
echo
if [ "$disagreements" -eq 0 ]; then
  echo "every comparison agrees"
else
  echo "$disagreements comparisons disagree"
  exit 1
fi
