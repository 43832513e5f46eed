# Sourced by the benchmark scripts: what every one of them sets up first.
#   bench_folders <build-dir> <data-dir>   repo, build, bin and data (defaults: build/ and
#                                          ../shared/data beside the repository)
#   bench_operands <default...> -- "$@"    bench_folders on the first two operands, and in
#                                          operands the rest (the defaults when none)
#   need_tools "<apt packages>" <tool...>  stops naming the first tool that is missing
#   scratch <tag>                          work: a temporary folder removed at exit; with
#                                          --shm also out, on /dev/shm when writable, so
#                                          that the disk's block allocation stays out
#   seconds <command...>                   wall seconds of one run, output dropped
#   collection <bases> <fasta>             the collection of bench/scale.sh: mutated copies
#                                          (bench/mutated_copies.cpp, seed 16) of every
#                                          genome in $data, built in $work
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

bench_folders() {
  build=$(cd "${1:-$repo/build}" && pwd)
  data=$(cd "${2:-$repo/../shared/data}" && pwd)
  bin=$build/bin
}

bench_operands() {
  local defaults=()
  while [ "$1" != -- ]; do defaults+=("$1"); shift; done
  shift
  bench_folders "${1:-}" "${2:-}"
  shift $(($# < 2 ? $# : 2))
  operands=("$@")
  [ ${#operands[@]} -gt 0 ] || operands=("${defaults[@]}")
}

need_tools() {
  local packages=$1 tool
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install -y $packages)"; exit 1; }
  done
}

scratch() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  out=""
  if [ "${2:-}" = --shm ]; then
    if [ -d /dev/shm ] && [ -w /dev/shm ]; then out=$(mktemp -d "/dev/shm/$1.XXXXXX"); else out=$work/out; mkdir "$out"; fi
  fi
  trap 'rm -rf "$work" ${out:+"$out"}' EXIT
}

seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$end - $start" | bc
}

collection() {
  local bases=$1 fasta=$2 f name genomes=()
  g++ -std=c++20 -O2 -o "$work/mutated_copies" "$repo/bench/mutated_copies.cpp"
  for f in "$data"/*.fa "$data"/*.fa.gz; do
    [ -e "$f" ] || continue
    name=$(basename "$f"); name=${name%.gz}; name=${name%.fa}
    if [[ $f == *.gz ]]; then gzip -dc "$f" >"$work/$name.fa"; else cp "$f" "$work/$name.fa"; fi
    genomes+=("$work/$name.fa")
  done
  echo "== collection of $bases bases from ${#genomes[@]} genomes" >&2
  "$work/mutated_copies" "$bases" 16 50 "${genomes[@]}" >"$fasta"
  rm -f "${genomes[@]}"
}
