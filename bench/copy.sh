#!/usr/bin/env bash
# Times vardex-cli copy on the generated 2,000-user, 500-item store with 100,000 audit rows:
# SQLite -> PostgreSQL -> SQLite, on a throwaway PostgreSQL cluster.
#   bash bench/copy.sh [BUILD]       BUILD defaults to build (any configured build folder)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build}
cmake --build "$build" --target bench_copy vardex-cli -j "${VARDEX_BENCH_JOBS:-2}"
pgdir=$(mktemp -u /tmp/vardex-bench-pg-XXXXXX)
trap 'bash "$root/tests/pg_cluster.sh" stop "$pgdir" || true' EXIT
bash "$root/tests/pg_cluster.sh" start "$pgdir"
echo "machine: $(nproc) cores, load average: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/bench_copy" "$(cat "$pgdir/conn.txt")"
