#!/usr/bin/env bash
# A collection of a gigabase built end to end: dnaprep, runarray -j 2 and treebuild -j 2
# -R with default options otherwise; per stage the wall time, the CPU time (user +
# system) and the peak memory, and the disk use per base of each file kind; then
# mkvtree -allout on the same FASTA file when the machine's free memory allows it.
#
#   bench/scale.sh [build-dir] [data-dir] [bases] [work-dir]
#
# Defaults: build/, ../shared/data beside the repository, 1,000,000,000 bases, a fresh
# folder under $TMPDIR. The collection is made by bench/mutated_copies.cpp (seed 16):
# copy 0 of every genome in the data folder unchanged, then copies with 50 seeded
# changes per 10,000 bases (substitutions, short insertions and deletions), each copy
# one record per genome file, until the wanted bases are reached. Needs g++, GNU time
# and about 45 bytes of free disk per base (runs and trees side by side before -R
# removes the runs); mkvtree (Debian package vmatch) is optional. Runs in about 20
# minutes on two cores; on a shared machine compare the CPU columns.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build}" && pwd)
data=$(cd "${2:-$repo/../shared/data}" && pwd)
bases=${3:-1000000000}
work=${4:-$(mktemp -d "${TMPDIR:-/tmp}/scale-bench.XXXXXX")}
mkdir -p "$work"
work=$(cd "$work" && pwd)
bin=$build/bin
trap 'rm -rf "$work"' EXIT
command -v /usr/bin/time >/dev/null || { echo "missing GNU time (apt-get install -y time)"; exit 1; }

free_kb=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
need_kb=$(awk -v n="$bases" 'BEGIN { printf "%.0f", n * 45 / 1024 }')
if [ "$free_kb" -lt "$need_kb" ]; then
  echo "not enough disk in $work: $((free_kb / 1048576)) GiB free, about $((need_kb / 1048576)) GiB needed"
  exit 1
fi

source "$repo/bench/common.sh"
collection "$bases" "$work/all.fa"

# Runs a stage under GNU time and prints "<wall s> <cpu s> <peak MiB>".
measure() {
  echo "  \$ $*" >&2
  if ! /usr/bin/time -f "%e %U %S %M" -o "$work/last" "$@" >"$work/out" 2>"$work/err"; then
    echo "  failed: $*" >&2; tail -n 5 "$work/err" >&2; exit 1
  fi
  awk '{ printf "%s %.1f %.0f\n", $1, $2 + $3, $4 / 1024 }' "$work/last"
}
# Bytes of the data set's files with this extension, per base (the runs' files are
# measured before treebuild -R removes them).
per_base() {
  find "$work/all.ST" -maxdepth 1 -name "*$1" -printf '%s\n' |
    awk -v n="$bases" '{ s += $1 } END { printf "%.4f", s / n }'
}
# -j where the program offers it (a build without it stops at the unknown option).
threads() {
  local said
  said=$("$bin/$1" "$work/none/" none -j 2 2>&1 || true)
  case $said in *"unrecognized option"*) echo "" ;; *) echo "-j 2" ;; esac
}

stage=()
stage+=("dnaprep $(measure "$bin/dnaprep" "$work/" "$work/" all -q all.fa)")
stage+=("runarray $(measure "$bin/runarray" "$work/" all -q $(threads runarray))")
kinds=(.stdna .stbin .stpsa .stlcp .stinsum .strunsum)
declare -A disk
for k in "${kinds[@]}"; do disk[$k]=$(per_base "$k"); done
stage+=("treebuild $(measure "$bin/treebuild" "$work/" all -q -R $(threads treebuild))")
for k in .stree .stdiv .streesum; do kinds+=("$k"); disk[$k]=$(per_base "$k"); done
trees=$(find "$work/all.ST" -name '*.stree' | wc -l)

echo
echo "collection: $bases bases, $(grep -c '>' "$work/all.fa") inputs, $(($(stat -c %s "$work/all.ST/all.stplengths") / 4)) runs, $trees trees"
printf '%-10s %9s %9s %10s\n' stage "wall s" "cpu s" "peak MiB"
for s in "${stage[@]}"; do printf '%-10s %9s %9s %10s\n' $s; done
printf 'disk per base:'
for k in "${kinds[@]}"; do printf ' %s %s' "$k" "${disk[$k]}"; done
echo
rm -rf "$work/all.ST"

if ! command -v mkvtree >/dev/null; then
  echo "mkvtree: not installed (apt-get install -y vmatch)"
  exit 0
fi
# mkvtree keeps the text, the suffix array and the tables in memory together.
avail_kb=$(awk '/^MemAvailable:/ { print $2 }' /proc/meminfo)
if [ "$avail_kb" -lt "$(awk -v n="$bases" 'BEGIN { printf "%.0f", n * 10 / 1024 }')" ]; then
  echo "mkvtree -allout: skipped, $((avail_kb / 1024)) MiB of memory available for $bases bases"
  exit 0
fi
read -r wall cpu peak < <(measure mkvtree -db "$work/all.fa" -dna -pl -allout -indexname "$work/vi")
vi_bytes=$(find "$work" -maxdepth 1 -name 'vi.*' -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
printf '%-10s %9s %9s %10s   disk per base %.3f\n' mkvtree "$wall" "$cpu" "$peak" \
  "$(awk -v b="$vi_bytes" -v n="$bases" 'BEGIN { print b / n }')"
