#!/usr/bin/env bash
# Starts a private PostgreSQL cluster on loopback for the tests and prints its URL.
# Usage: scripts/start-postgres.sh [PORT]   (default 55432). Idempotent.
set -euo pipefail
PORT="${1:-55432}"
PGVER="$(ls /usr/lib/postgresql/ | sort -V | tail -1)"
PGBIN="/usr/lib/postgresql/${PGVER}/bin"
PGDATA="/tmp/imp40500-pg-${PORT}"
RUNAS=()
if [ "$(id -u)" = 0 ]; then RUNAS=(runuser -u postgres --); fi
if ! "${RUNAS[@]}" "$PGBIN/pg_ctl" -D "$PGDATA" status >/dev/null 2>&1; then
  if [ ! -f "$PGDATA/PG_VERSION" ]; then
    rm -rf "$PGDATA"; mkdir -p "$PGDATA"
    [ "$(id -u)" = 0 ] && chown postgres:postgres "$PGDATA"
    "${RUNAS[@]}" "$PGBIN/initdb" -D "$PGDATA" -A trust -U postgres -E UTF8 >/dev/null
  fi
  "${RUNAS[@]}" "$PGBIN/pg_ctl" -D "$PGDATA" -l "$PGDATA/server.log" -w \
      -o "-p $PORT -k /tmp -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
fi
psql -h 127.0.0.1 -p "$PORT" -U postgres -tAc "SELECT 1 FROM pg_database WHERE datname='imp_test'" | grep -q 1 \
  || psql -h 127.0.0.1 -p "$PORT" -U postgres -qc "CREATE DATABASE imp_test" >/dev/null
echo "postgresql://postgres@127.0.0.1:${PORT}/imp_test"
