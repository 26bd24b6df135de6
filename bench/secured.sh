#!/usr/bin/env bash
# Builds bench_secured (Release), starts a throwaway PostgreSQL cluster and times the right checks
# on a secured store, on the classic store and SELECT 1, in one run; writes OUT/secured.txt.
#
#   bash bench/secured.sh [OUT]       OUT defaults to build-bench/bench-results
#
# Settings (environment): VARDEX_BENCH_BUILD (build folder, default build-bench),
# VARDEX_BENCH_MIN_TIME (seconds per repetition, default 1), VARDEX_BENCH_REPETITIONS (default 5).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${VARDEX_BENCH_BUILD:-$root/build-bench}
out=${1:-$build/bench-results}

. "$here/common.sh"
bench_build bench_secured
mkdir -p "$out"
bench_start_pg
"$build/bench/bench_secured" --benchmark_min_time="${VARDEX_BENCH_MIN_TIME:-1}" \
  --benchmark_repetitions="${VARDEX_BENCH_REPETITIONS:-5}" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true | tee "$out/secured.txt"
