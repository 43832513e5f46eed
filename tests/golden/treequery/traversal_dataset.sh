# Shell helper for the traversal cases: builds a data set with the real pipeline.
#
#   build_dataset <prefix> <fasta in the case dir> [treebuild options...]
#
# The data set lands in ./<prefix>.ST/; the builders' own output is dropped, so a case
# shows only what treequery prints. Cases remove their data sets at the end.
build_dataset() {
  local prefix=$1 fasta=$2
  shift 2
  "$DNAPREP" "$CASE/" ./ "$prefix" "$fasta" >/dev/null 2>&1 || echo "dnaprep failed"
  "$RUNARRAY" ./ "$prefix" >/dev/null 2>&1 || echo "runarray failed"
  "$TREEBUILD" ./ "$prefix" "$@" >/dev/null 2>&1 || echo "treebuild failed"
}
