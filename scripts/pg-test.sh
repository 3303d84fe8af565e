#!/usr/bin/env bash
# A throwaway PostgreSQL server for the record-store tests: initdb into a
# folder, listening only on a Unix socket inside it, run as an unprivileged
# user (nobody when started by root), trust authentication for that socket.
#   scripts/pg-test.sh start DIR   prints the URL the tests take (BEAMPORT_TEST_PG)
#   scripts/pg-test.sh stop DIR    stops it and removes DIR
set -euo pipefail
cmd=${1:-}; dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 64; }

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bindir/initdb" ] || { echo "pg-test: PostgreSQL server binaries not found (Debian: postgresql)" >&2; exit 69; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u nobody -- "$@"; else "$@"; fi
}

case "$cmd" in
start)
  mkdir -p "$dir"
  [ "$(id -u)" -eq 0 ] && chown nobody "$dir"
  chmod 700 "$dir"
  as_owner "$bindir/initdb" -D "$dir/data" -U beamport --auth=trust -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 ||
    { cat "$dir/initdb.log" >&2; exit 1; }
  as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-c listen_addresses='' -k $dir -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=60" \
    start >/dev/null || { cat "$dir/server.log" >&2; exit 1; }
  as_owner "$bindir/createdb" -h "$dir" -U beamport beamport_test
  echo "postgresql://beamport@/beamport_test?host=$dir"
  ;;
stop)
  if [ -f "$dir/data/postmaster.pid" ]; then
    as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
  ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 64 ;;
esac
