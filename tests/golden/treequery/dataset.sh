# Shell helper for the treequery cases: builds the data set "ds" in the work directory
# through the whole pipeline, quietly, so that each case shows only treequery's output.
#
#   build_dataset <fasta file in the case directory> <maxNodes of each tree>
build_dataset() {
  "$DNAPREP" "$CASE/" ./ ds "$1" >/dev/null 2>&1 &&
    "$RUNARRAY" ./ ds >/dev/null 2>&1 &&
    "$TREEBUILD" ./ ds -n "$2" >/dev/null 2>&1 ||
    echo "building the data set from $1 failed"
}
