#!/usr/bin/env bash
# Instructions per call of the four calls of bench_access, ours and raw, counted by callgrind.
# Unlike times, these counts do not move with the machine's load, so ours / raw can be compared
# between runs and between builds.
#
#   bash bench/callgrind.sh [BUILD [OUT]]   BUILD defaults to build-bench, OUT to BUILD/callgrind
#
# One valgrind run per store size: the program builds the store, then (profiling mode) makes every
# call VARDEX_CG_CALLS times inside profiledCalls(), one case after the other; callgrind counts only
# inside profiledCalls() and writes a profile after each, so each count divides exactly.
# Settings (environment): VARDEX_CG_CALLS (default 1000), VARDEX_BENCH_STORES (default 1k,1M),
# VARDEX_CG_PG=1 to count the PostgreSQL cases too (client-side instructions only; a throwaway
# cluster is started with tests/pg_cluster.sh), VARDEX_BENCH_JOBS (build jobs, default 2).
# Writes OUT/instructions.md (the table) and keeps the profiles for callgrind_annotate.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${1:-${VARDEX_BENCH_BUILD:-$root/build-bench}}
out=${2:-$build/callgrind}
calls=${VARDEX_CG_CALLS:-1000}
stores=${VARDEX_BENCH_STORES:-1k,1M}

command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 1; }
. "$here/common.sh"
bench_build bench_access
mkdir -p "$out"

backends=(SQLite)
if [ "${VARDEX_CG_PG:-0}" = 1 ]; then
  bench_start_pg
  backends+=(PostgreSQL)
else
  unset VARDEX_BENCH_PG
fi

calls_list=(CheckUserRight_granted CheckUserRight_member CheckUserRight_refused CheckUserLogin_success)
counts="$out/counts.txt"
: >"$counts"
for store in ${stores//,/ }; do
  names=()
  for backend in "${backends[@]}"; do
    for call in "${calls_list[@]}"; do
      names+=("$backend/$store/$call/ours" "$backend/$store/$call/raw")
    done
  done
  profile=$(IFS=,; echo "${names[*]}")
  prefix="$out/cg-$store"
  rm -f "$prefix".out*
  # --dump-after matches the function's full name; a leading wildcard does not match.
  echo "store $store: ${#names[@]} cases of $calls calls under callgrind" >&2
  VARDEX_BENCH_STORES=$store VARDEX_BENCH_PROFILE=$profile VARDEX_BENCH_PROFILE_N=$calls \
    valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*profiledCalls*' \
    --dump-after='(anonymous namespace)::profiledCalls*' --callgrind-out-file="$prefix.out" \
    "$build/bench/bench_access" >"$prefix.log" 2>&1 || { cat "$prefix.log" >&2; exit 1; }
  # Dump i (numbered from 1, in the order of the cases) holds the i-th case's count.
  i=0
  for name in "${names[@]}"; do
    i=$((i + 1))
    file="$prefix.out.$i"
    [ -f "$file" ] || { echo "missing profile $file for $name" >&2; exit 1; }
    total=$(sed -n 's/^\(totals\|summary\): *\([0-9]*\).*/\2/p' "$file" | head -n 1)
    echo "$name $total $calls" >>"$counts"
  done
done

python3 - "$counts" <<'EOF' | tee "$out/instructions.md"
import sys
rows = {}
for line in open(sys.argv[1]):
    name, total, calls = line.split()
    rows[name] = int(total) / int(calls)
print("| backend | store | call | ours | raw | ours / raw |")
print("|---|---|---|---:|---:|---:|")
seen = []
for name in rows:
    key = name.rsplit("/", 1)[0]
    if key not in seen:
        seen.append(key)
for key in seen:
    backend, store, call = key.split("/")
    ours, raw = rows.get(key + "/ours"), rows.get(key + "/raw")
    ratio = f"{ours / raw:.2f}" if ours and raw else "—"
    print(f"| {backend} | {store} | {call} | {ours:,.0f} | {raw:,.0f} | {ratio} |")
EOF
echo "profiles in $out" >&2
