#!/usr/bin/env bash
# Builds bench_access (Release), starts a throwaway PostgreSQL cluster, runs every benchmark on
# SQLite and PostgreSQL stores of 1,000 and 1,000,000 grant rows, stops the cluster and writes
#   OUT/results.txt   the console output
#   OUT/results.json  Google Benchmark's JSON
#   OUT/summary.md    the table of medians and ratios (bench/report.py)
#
#   bash bench/run.sh [OUT]       OUT defaults to build-bench/bench-results
#
# Settings (environment): VARDEX_BENCH_BUILD (build folder, default build-bench),
# VARDEX_BENCH_MIN_TIME (seconds per repetition, default 1), VARDEX_BENCH_REPETITIONS (default 5),
# VARDEX_BENCH_JOBS (build jobs, default 2), VARDEX_BENCH_NO_PG=1 to leave PostgreSQL out;
# VARDEX_BENCH_STORES and VARDEX_BENCH_DIR are passed on to the program.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${VARDEX_BENCH_BUILD:-$root/build-bench}
out=${1:-$build/bench-results}
min_time=${VARDEX_BENCH_MIN_TIME:-1}
repetitions=${VARDEX_BENCH_REPETITIONS:-5}

. "$here/common.sh"
bench_build bench_access
mkdir -p "$out"

if [ "${VARDEX_BENCH_NO_PG:-0}" != 1 ]; then
  bench_start_pg
else
  unset VARDEX_BENCH_PG
fi

{
  echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
  echo "started: $(date -Is), load average: $(cut -d' ' -f1-3 /proc/loadavg)"
} | tee "$out/results.txt"

# Repetitions in random order, so a change of the machine's load during the run falls on every
# benchmark alike instead of on whichever ran at that moment; the table takes the medians.
"$build/bench/bench_access" \
  --benchmark_min_time="$min_time" \
  --benchmark_min_warmup_time=0.2 \
  --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$out/results.json" \
  --benchmark_out_format=json 2>&1 | tee -a "$out/results.txt"

python3 "$here/report.py" "$out/results.json" | tee "$out/summary.md"
echo "results in $out"
