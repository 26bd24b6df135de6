#!/usr/bin/env bash
# Many desktops through PgBouncer in transaction pooling mode, and the same desktops directly on
# the server, in the same run: tests/test_replica's pooling test at full size (100 processes
# for 60 s each way, 10 server connections behind the pooler). It needs the test programs, so it
# builds in a tree with tests on:
#
#   bash bench/pooling.sh [OUT]      OUT defaults to $VARDEX_POOL_BUILD/pooling-results
#
# Settings (environment): VARDEX_POOL_BUILD (build folder, default build-pooling),
# VARDEX_POOL_PROCESSES (100), VARDEX_POOL_SECONDS (60), VARDEX_POOL_SIZE (10), VARDEX_BENCH_JOBS.
# Writes OUT/pooling.txt: the test's output with its "[ figures  ]" line (calls per second both
# ways); the script fails when the test does (an error, a wrong answer, an audit row too many or
# missing, a doctor finding).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${VARDEX_POOL_BUILD:-$root/build-pooling}
out=${1:-$build/pooling-results}
if [ ! -f "$build/CMakeCache.txt" ]; then
  generator=()
  command -v ninja >/dev/null && generator=(-G Ninja)
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DVARDEX_BUILD_TESTS=ON
fi
cmake --build "$build" --target test_replica hardening_worker vardex-cli -j "${VARDEX_BENCH_JOBS:-2}"
mkdir -p "$out"
dir=$(mktemp -u /tmp/vardex-pooling-XXXXXX)
trap 'bash "$root/tests/pg_replica.sh" stop "$dir"' EXIT
bash "$root/tests/pg_replica.sh" start "$dir" none
VARDEX_REPLICA_DIR=$dir VARDEX_POOL_PROCESSES=${VARDEX_POOL_PROCESSES:-100} VARDEX_POOL_SECONDS=${VARDEX_POOL_SECONDS:-60} \
  QT_QPA_PLATFORM=offscreen VARDEX_SOURCE_DIR=$root VARDEX_BIN_DIR=$build/bin \
  "$build/tests/test_replica" --gtest_filter='*TransactionPooling*' 2>&1 | tee "$out/pooling.txt"
exit "${PIPESTATUS[0]}"
