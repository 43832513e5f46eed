# Shell helper for the row cases (-f, -B, -F): a data set "ds" with its names
# catalogue and coordinate map, built quietly from FASTA text written here. chrA has
# an N run that joins ...gacca|ggatt..., chrB a short one inside ggattaca|aatcg.
#
#   build_rows_dataset [treebuild -n value]
build_rows_dataset() {
  printf '>chrA first sequence\nacgtacgtttgaccaNNNNNggattacagattacaccgt\nacgtgcatgcaattgg\n' >g.fa
  printf '>chrB\nttgaccaggattacaNNaatcgcgatcgatatatcg\n>chrC\nggtaccnnnggtacc\n' >>g.fa
  "$DNAPREP" ./ ./ ds -q -Q -N g.fa >/dev/null 2>&1 &&
    "$RUNARRAY" ./ ds -q >/dev/null 2>&1 &&
    "$TREEBUILD" ./ ds -q -n "${1:-20}" >/dev/null 2>&1 ||
    echo "building the data set failed"
  rm g.fa
}
