# Shell helpers for the -j cases: a data set of many small trees from seeded random
# text, and a check that a treequery command prints the same with -j 2 and -j 3 as
# with -j 1.
#
#   build_threads_dataset <prefix> <seed> <records> [treebuild -n value]
#   same_on_threads <prefix> <options...>
#
# same_on_threads prints the status, the line counts and any error of the -j 1 run, then "same"
# or the differences (standard output, standard error and status; the command echo,
# the options echo, times and mmap addresses set aside).
build_threads_dataset() {
  "$RANDOM_FASTA" "$2" "$3" 12 60 aacgt >"$1.fa"
  "$DNAPREP" ./ ./ "$1" -q -N "$1.fa" >/dev/null 2>&1 &&
    "$RUNARRAY" ./ "$1" -q >/dev/null 2>&1 &&
    "$TREEBUILD" ./ "$1" -q -n "${4:-40}" >/dev/null 2>&1 ||
    echo "building the data set failed"
  rm "$1.fa"
}
threads_run() {
  local j=$1 prefix=$2
  shift 2
  $TREEQUERY ./ "$prefix" "$@" -j "$j" >"out.$j" 2>"err.$j"
  echo "status $?" >>"out.$j"
  sed -E -i '/^# (Command\(|search options|Version)|[0-9]+ ms|mmap|munmap/d' "err.$j"
}
same_on_threads() {
  echo "== $*"
  threads_run 1 "$@"
  echo "$(wc -l <out.1) lines out, $(wc -l <err.1) lines on standard error, $(tail -n 1 out.1)"
  grep -h 'ERROR' out.1 err.1
  for j in 2 3; do
    threads_run "$j" "$@"
    if cmp -s out.1 "out.$j" && cmp -s err.1 "err.$j"; then
      echo "-j $j: same"
    else
      echo "-j $j: differs"
      diff out.1 "out.$j" | head -n 5
      diff err.1 "err.$j" | head -n 5
    fi
  done
  rm -f out.? err.?
}
