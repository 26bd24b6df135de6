# Shared by the bench scripts (sourced; expects $root and $build).

# Configures $build as a Release tree without tests when it is not configured yet, and builds the
# given benchmark target with VARDEX_BENCH_JOBS jobs (default 2).
bench_build() {
  if [ ! -f "$build/CMakeCache.txt" ]; then
    local generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DVARDEX_BUILD_TESTS=OFF
  fi
  cmake --build "$build" --target "$1" -j "${VARDEX_BENCH_JOBS:-2}"
}

# Starts a throwaway PostgreSQL cluster, exports its connection string as VARDEX_BENCH_PG and
# stops it when the script exits. Under /tmp: the server runs as the postgres user, who may not
# reach a folder in a private home.
pgdir=
bench_stop_pg() {
  if [ -n "$pgdir" ]; then
    bash "$root/tests/pg_cluster.sh" stop "$pgdir" || true
  fi
}
bench_start_pg() {
  pgdir=$(mktemp -u /tmp/vardex-bench-pg-XXXXXX)
  trap bench_stop_pg EXIT
  bash "$root/tests/pg_cluster.sh" start "$pgdir"
  VARDEX_BENCH_PG=$(cat "$pgdir/conn.txt")
  export VARDEX_BENCH_PG
}
