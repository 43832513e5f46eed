#!/usr/bin/env bash
# Runs one golden case and compares everything it produced with the case's expected/.
#
#   run_case.sh <case-dir> <bin-dir>        compare (status 0 when all agree)
#   GOLDEN_UPDATE=1 run_case.sh ...         rewrite expected/ from this run
#
# A case directory holds `cmd`, a bash script run in an empty work directory with
# DNATREES, DNAPREP, RUNARRAY, TREEBUILD, TREEQUERY (the binaries), RANDOM_FASTA (seeded random
# FASTA text: tests/tools/random_fasta.cpp), CASE (the case directory, for its input
# files) and EXAMPLES (the shipped genomes) set, in the C locale (so that sorting,
# listing and character classes do not depend on the machine's language). Its stdout,
# stderr and exit status and every file it leaves in the work directory are compared
# byte for byte with expected/stdout, expected/stderr, expected/status and
# expected/files/.
# Lines that carry the command echo, the version, times or memory are masked in
# stderr (and in stdout); a case may add extended regexes of its own, one per line,
# in `mask`.
set -u
case_dir=$(cd "$1" && pwd) || exit 2
bin_dir=$(cd "$2" && pwd) || exit 2
expected="$case_dir/expected"
work=$(mktemp -d "${TMPDIR:-/tmp}/golden.XXXXXX")
actual=$(mktemp -d "${TMPDIR:-/tmp}/golden-actual.XXXXXX")
trap 'rm -rf "$work" "$actual"' EXIT

export LC_ALL=C
export DNATREES="$bin_dir/dnatrees" DNAPREP="$bin_dir/dnaprep" RUNARRAY="$bin_dir/runarray" TREEBUILD="$bin_dir/treebuild" \
       TREEQUERY="$bin_dir/treequery" RANDOM_FASTA="$bin_dir/random_fasta" CASE="$case_dir" \
       EXAMPLES="$(cd "$case_dir/../../../../examples" && pwd)"
(cd "$work" && bash "$case_dir/cmd") >"$actual/stdout" 2>"$actual/stderr"
echo $? >"$actual/status"

masks=('^# Command\(' '^# Version: ' '[0-9]+ ms\b' 'mem(ory)? [0-9]+' 'faults')
if [ -f "$case_dir/mask" ]; then
  while IFS= read -r m; do [ -n "$m" ] && masks+=("$m"); done <"$case_dir/mask"
fi
mask() {
  local f=$1 m
  for m in "${masks[@]}"; do
    sed -E -i "/$m/c\\<masked>" "$f"
  done
}
mask "$actual/stdout"
mask "$actual/stderr"
mkdir -p "$actual/files"
cp -a "$work/." "$actual/files/"
# git keeps no empty folders, so they take no part in the comparison.
find "$actual/files" -mindepth 1 -type d -empty -delete

if [ "${GOLDEN_UPDATE:-0}" = 1 ]; then
  rm -rf "$expected"
  cp -a "$actual" "$expected"
  echo "updated $expected"
  exit 0
fi
if [ ! -d "$expected" ]; then
  echo "no expected/ in $case_dir (run with GOLDEN_UPDATE=1 and check the result by hand)"
  exit 1
fi
# git keeps no empty folders: a case that leaves no files has no expected/files/.
mkdir -p "$expected/files"
if diff -r "$expected" "$actual" >/dev/null; then
  exit 0
fi
# Show what differs: text files as a diff, binary files as the first differing bytes.
echo "golden case $case_dir differs from expected:"
diff -rq "$expected" "$actual" | head -n 20
for f in stdout stderr status; do
  diff -u "$expected/$f" "$actual/$f" | head -n 40
done
while read -r rel; do
  cmp "$expected/files/$rel" "$actual/files/$rel" 2>&1 | head -n 1
done < <(cd "$actual/files" && find . -type f | sed 's|^\./||')
keep="${TMPDIR:-/tmp}/golden-failed-$(basename "$case_dir")"
rm -rf "$keep"; cp -a "$actual" "$keep"
echo "actual output kept in $keep"
exit 1
