#!/usr/bin/env bash
# Starts or stops a throwaway PostgreSQL cluster for the tests.
#   pg_cluster.sh start DIR   initdb in DIR, start on a free loopback port, write DIR/conn.txt
#                             and DIR/odbc/odbcinst.ini (the PostgreSQL ODBC drivers, registered
#                             for the tests only, with no communication log: ODBCSYSINI=DIR/odbc;
#                             the Unicode one also as "Perm Driver", a name that does not tell
#                             the database kind; tests add their DSNs to DIR/odbc/odbc.ini)
#   pg_cluster.sh stop DIR    stop the cluster and remove DIR
# As root the cluster runs as the postgres user (initdb refuses root).
set -euo pipefail
cmd=${1:?start or stop}
dir=${2:?folder}
bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bindir" ] || { echo "pg_cluster: no PostgreSQL server installed (apt-get install postgresql)" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

port_busy() {
  local hex
  hex=$(printf '%04X' "$1")
  grep -qi ":$hex " /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

# The system's registration of the driver (odbc-postgresql) switches the communication log on,
# which leaves a /tmp/psqlodbc_*.log behind for every connection.
write_odbcinst() {
  local driver driver_dir
  driver=$(ls /usr/lib/*/odbc/psqlodbcw.so /usr/lib/odbc/psqlodbcw.so 2>/dev/null | head -n 1 || true)
  driver_dir=$(dirname "${driver:-/usr/lib/odbc/psqlodbcw.so}")
  mkdir -p "$1"
  {
    for kind in "ANSI:psqlodbca.so" "Unicode:psqlodbcw.so"; do
      printf '[PostgreSQL %s]\nDriver=%s/%s\nDebug=0\nCommLog=0\n\n' "${kind%%:*}" "$driver_dir" "${kind#*:}"
    done
    printf '[Perm Driver]\nDriver=%s/psqlodbcw.so\nDebug=0\nCommLog=0\n\n' "$driver_dir"
  } >"$1/odbcinst.ini"
}

case "$cmd" in
start)
  if [ -f "$dir/conn.txt" ] && as_owner "$bindir/pg_ctl" -D "$dir/data" status >/dev/null 2>&1; then
    exit 0
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  [ "$(id -u)" = 0 ] && chown postgres "$dir"
  as_owner "$bindir/initdb" -D "$dir/data" -U postgres --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
    || { cat "$dir/initdb.log" >&2; exit 1; }
  for attempt in $(seq 1 20); do
    port=$(( 20000 + (RANDOM % 20000) ))
    port_busy "$port" && continue
    if as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
         -o "-h 127.0.0.1 -p $port -k $dir -c fsync=off -c max_connections=200" start >/dev/null 2>&1; then
      echo "Provider=PostgreSQL;Host=127.0.0.1;Port=$port;User ID=postgres" >"$dir/conn.txt"
      echo "$port" >"$dir/port"
      write_odbcinst "$dir/odbc"
      exit 0
    fi
  done
  cat "$dir/server.log" >&2 || true
  exit 1
  ;;
stop)
  if [ -d "$dir/data" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
*)
  echo "usage: pg_cluster.sh start|stop DIR" >&2; exit 2 ;;
esac
