#!/usr/bin/env bash
# A primary with a streaming standby and a PgBouncer in front of the primary, on loopback ports,
# for the failover and pooling tests and for bench/.
#   pg_replica.sh start DIR [sync|async|none]
#       the primary: a throwaway cluster made by pg_cluster.sh in DIR/primary;
#       the standby (unless none): pg_basebackup of it in DIR/standby, streaming, named standby1,
#         synchronous (synchronous_standby_names = standby1, synchronous_commit = on) with sync;
#       PgBouncer in transaction pooling mode in front of the primary, every database, at most
#         ${VARDEX_POOL_SIZE:-10} server connections per database.
#       Writes DIR/conn.txt (the primary), DIR/failover.txt (both hosts, Target Session
#       Attrs=read-write, no user: the open call gives it), DIR/pooler.txt (through PgBouncer)
#       and DIR/odbc (as pg_cluster.sh).
#   pg_replica.sh kill-primary DIR   kill -9 the primary's server and every process of it; returns
#                                    once they are gone
#   pg_replica.sh promote DIR        promote the standby; returns once it takes writes
#   pg_replica.sh stop DIR           stop everything and remove DIR
# As root the servers and PgBouncer run as the postgres user (neither runs as root).
set -euo pipefail
cmd=${1:?start, kill-primary, promote or stop}
dir=${2:?folder}
mode=${3:-sync}
here=$(cd "$(dirname "$0")" && pwd)
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)

as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  local port hex
  for _ in $(seq 1 50); do
    port=$(( 20000 + (RANDOM % 20000) ))
    hex=$(printf '%04X' "$port")
    grep -qi ":$hex " /proc/net/tcp /proc/net/tcp6 2>/dev/null || { echo "$port"; return; }
  done
  return 1
}

psql_at() { as_owner "$bindir/psql" -X -q -At -h 127.0.0.1 -p "$1" -U postgres -d postgres -c "$2"; }

start_standby() {
  local p1=$1 p2
  p2=$(free_port)
  as_owner "$bindir/pg_basebackup" -h 127.0.0.1 -p "$p1" -U postgres -D "$dir/standby" -X stream -c fast -R \
    >"$dir/basebackup.log" 2>&1 || { cat "$dir/basebackup.log" >&2; exit 1; }
  echo "primary_conninfo = 'host=127.0.0.1 port=$p1 user=postgres application_name=standby1'" \
    | as_owner tee -a "$dir/standby/postgresql.auto.conf" >/dev/null
  as_owner "$bindir/pg_ctl" -D "$dir/standby" -l "$dir/standby.log" -w -t 60 \
    -o "-h 127.0.0.1 -p $p2 -k $dir -c fsync=off -c max_connections=200" start >/dev/null \
    || { cat "$dir/standby.log" >&2; exit 1; }
  echo "$p2" >"$dir/standby_port"
  if [ "$mode" = sync ]; then
    psql_at "$p1" "ALTER SYSTEM SET synchronous_standby_names = 'standby1'" >/dev/null
    psql_at "$p1" "ALTER SYSTEM SET synchronous_commit = 'on'" >/dev/null
    psql_at "$p1" "SELECT pg_reload_conf()" >/dev/null
  fi
  for _ in $(seq 1 300); do
    state=$(psql_at "$p1" "SELECT sync_state FROM pg_stat_replication WHERE application_name = 'standby1'" || true)
    if { [ "$mode" = sync ] && [ "$state" = sync ]; } || { [ "$mode" != sync ] && [ -n "$state" ]; }; then
      return 0
    fi
    sleep 0.1
  done
  echo "pg_replica: the standby did not start streaming" >&2
  exit 1
}

start_pooler() {
  local p1=$1 p3
  p3=$(free_port)
  mkdir -p "$dir/pgbouncer"
  printf '"postgres" ""\n' >"$dir/pgbouncer/userlist.txt"
  cat >"$dir/pgbouncer/pgbouncer.ini" <<INI
[databases]
* = host=127.0.0.1 port=$p1
[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $p3
unix_socket_dir =
auth_type = trust
auth_file = $dir/pgbouncer/userlist.txt
pool_mode = transaction
default_pool_size = ${VARDEX_POOL_SIZE:-10}
max_db_connections = ${VARDEX_POOL_SIZE:-10}
max_client_conn = 1000
logfile = $dir/pgbouncer/pgbouncer.log
pidfile = $dir/pgbouncer/pgbouncer.pid
admin_users = postgres
# libpq's options (PGOPTIONS) is dropped rather than refused, as sites configure it.
ignore_startup_parameters = extra_float_digits, options
INI
  [ "$(id -u)" = 0 ] && chown -R postgres "$dir/pgbouncer"
  as_owner pgbouncer -d "$dir/pgbouncer/pgbouncer.ini" || { cat "$dir/pgbouncer/pgbouncer.log" >&2; exit 1; }
  for _ in $(seq 1 100); do
    psql_at "$p3" "SELECT 1" >/dev/null 2>&1 && { echo "$p3" >"$dir/pooler_port"; return 0; }
    sleep 0.1
  done
  cat "$dir/pgbouncer/pgbouncer.log" >&2
  exit 1
}

# The primary's processes: every process working in its data folder (the postmaster and its
# children, also once the postmaster is gone and they belong to init).
primary_pids() {
  local data p
  data=$(cd "$dir/primary/data" 2>/dev/null && pwd -P) || return 0
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/cwd" 2>/dev/null)" = "$data" ] && echo "${p#/proc/}"
  done
  return 0
}

case "$cmd" in
start)
  command -v pgbouncer >/dev/null || { echo "pg_replica: pgbouncer is not installed (apt-get install pgbouncer)" >&2; exit 1; }
  if [ -f "$dir/pooler.txt" ]; then "$0" stop "$dir"; fi
  rm -rf "$dir"
  mkdir -p "$dir"
  [ "$(id -u)" = 0 ] && chown postgres "$dir"
  "$here/pg_cluster.sh" start "$dir/primary"
  p1=$(cat "$dir/primary/port")
  cp "$dir/primary/conn.txt" "$dir/conn.txt"
  cp -r "$dir/primary/odbc" "$dir/odbc"
  if [ "$mode" != none ]; then
    start_standby "$p1"
    p2=$(cat "$dir/standby_port")
    echo "Provider=PostgreSQL;Host=127.0.0.1:$p1,127.0.0.1:$p2;Target Session Attrs=read-write" \
      >"$dir/failover.txt"
  fi
  start_pooler "$p1"
  echo "Provider=PostgreSQL;Host=127.0.0.1;Port=$(cat "$dir/pooler_port");User ID=postgres" >"$dir/pooler.txt"
  ;;
kill-primary)
  pids=$(primary_pids)
  [ -n "$pids" ] && kill -9 $pids 2>/dev/null || true
  # Returns once they are gone: until then their connections may still answer and commit.
  for _ in $(seq 1 300); do
    [ -z "$(primary_pids)" ] && exit 0
    sleep 0.1
  done
  echo "pg_replica: the primary's processes did not end" >&2
  exit 1
  ;;
promote)
  as_owner "$bindir/pg_ctl" -D "$dir/standby" -w -t 60 promote >/dev/null
  p2=$(cat "$dir/standby_port")
  for _ in $(seq 1 300); do
    [ "$(psql_at "$p2" "SELECT pg_is_in_recovery()" 2>/dev/null || true)" = f ] && exit 0
    sleep 0.1
  done
  echo "pg_replica: the standby did not leave recovery" >&2
  exit 1
  ;;
stop)
  if [ -f "$dir/pgbouncer/pgbouncer.pid" ]; then
    kill "$(cat "$dir/pgbouncer/pgbouncer.pid")" 2>/dev/null || true
  fi
  if [ -d "$dir/standby" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/standby" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  if [ -d "$dir/primary/data" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/primary/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  "$here/pg_cluster.sh" stop "$dir/primary"
  rm -rf "$dir"
  ;;
*)
  echo "usage: pg_replica.sh start|kill-primary|promote|stop DIR [sync|async|none]" >&2; exit 2 ;;
esac
