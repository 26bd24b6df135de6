#!/usr/bin/env bash
# Runs PostgreSQL test programs through PgBouncer in transaction pooling mode: a primary with
# PgBouncer in front (pg_replica.sh, no standby) in DIR, and every program's PostgreSQL and ODBC
# tests with the pooler's connection string as their cluster (the SQLite ones are left out, they
# never reach it).
#   pooled.sh DIR PROGRAM...
set -euo pipefail
dir=${1:?folder}
shift
here=$(cd "$(dirname "$0")" && pwd)
trap '"$here/pg_replica.sh" stop "$dir"' EXIT
"$here/pg_replica.sh" start "$dir" none
export VARDEX_PG_CONNFILE="$dir/pooler.txt" ODBCSYSINI="$dir/odbc"
failed=()
for program in "$@"; do
  echo "== $(basename "$program")"
  "$program" --gtest_brief=1 --gtest_filter='-*SQLite*' || failed+=("$(basename "$program")")
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "pooled: failed through PgBouncer: ${failed[*]}" >&2
  exit 1
fi
