#!/usr/bin/env bash
# The workflow with 4 local jobs against the serial build, on a collection made as
# bench/scale.sh makes it: wall time of each, the wall time and peak memory of every
# job of the workflow (Snakemake's own benchmark files), the largest job's share of
# the jobs' total time, and what 100 machines would take by the same split.
#
#   bench/workflow.sh [build-dir] [data-dir] [bases] [jobs]
#
# Defaults: build/, ../shared/data beside the repository, 1,000,000,000 bases (about
# 45 bytes of free disk per base twice over: the serial and the workflow's data set),
# 4 jobs: 4 sort jobs, 4 key ranges, run at most 4 at once. Needs g++, GNU time and
# snakemake. The serial build uses the same run size as the workflow's plan, so both
# sort the same runs; the serial treebuild merges them in one process.
set -euo pipefail
source "$(dirname "$0")/common.sh"
bench_folders "${1:-}" "${2:-}"
bases=${3:-1000000000}
jobs=${4:-4}
need_tools "snakemake time" snakemake /usr/bin/time
scratch workflow-bench

collection "$bases" "$work/all.fa"
echo "== $bases bases, $jobs jobs (nproc $(nproc))"

cat >"$work/config.yaml" <<CONFIG
fasta: [$work/all.fa]
out: $work/flow
runs: $jobs
ranges: $jobs
bin: $bin
CONFIG
cmd=(snakemake -s "$repo/workflow/Snakefile" --configfile "$work/config.yaml" --directory "$work" --cores "$jobs" -q)
echo "\$ ${cmd[*]}"
start=$(date +%s.%N)
"${cmd[@]}" >"$work/snakemake.log" 2>&1 || { tail -20 "$work/snakemake.log"; exit 1; }
flow=$(echo "$(date +%s.%N) - $start" | bc)
run_size=$(cat "$work/flow/workflow/run_size")

# The serial build: the same stages one after another, each under GNU time.
mkdir "$work/serial"
serial=0
serial_peak=0
for stage in "$bin/dnaprep '' $work/serial/ index -q -N $work/all.fa" \
             "$bin/runarray $work/serial/ index -q -r $run_size" \
             "$bin/treebuild $work/serial/ index -q -R"; do
  echo "\$ $stage"
  eval /usr/bin/time -f "'%e %M'" -o "$work/time" "$stage" >/dev/null 2>&1
  read -r s kb <"$work/time"
  serial=$(echo "$serial + $s" | bc)
  [ "$kb" -gt "$serial_peak" ] && serial_peak=$kb
done

echo
printf "%-12s %10s %12s\n" job seconds "peak MiB"
total=0
largest=0
largest_job=""
for f in "$work"/flow/workflow/benchmarks/*.tsv; do
  job=$(basename "$f" .tsv)
  read -r s rss <<<"$(sed -n 2p "$f" | cut -f1,3)"
  printf "%-12s %10.1f %12.0f\n" "$job" "$s" "$rss"
  total=$(echo "$total + $s" | bc)
  if [ "$(echo "$s > $largest" | bc)" = 1 ]; then largest=$s; largest_job=$job; fi
done
echo
printf "serial build:   %8.1f s wall, peak %.0f MiB (largest stage)\n" "$serial" "$(echo "$serial_peak / 1024" | bc -l)"
printf "workflow:       %8.1f s wall with %d jobs at once (ratio serial/workflow %.2f)\n" "$flow" "$jobs" \
  "$(echo "$serial / $flow" | bc -l)"
printf "jobs together:  %8.1f s; largest job %s %.1f s, %.0f%% of them\n" "$total" "$largest_job" "$largest" \
  "$(echo "100 * $largest / $total" | bc -l)"
