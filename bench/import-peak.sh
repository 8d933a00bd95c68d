#!/usr/bin/env bash
# Peak memory and time of `imp40500 import` (embedded server; SQLite, or PostgreSQL with PG_URL) of
# one generated file against the file's size, for this build and, when given, another build's
# imp40500 in the same run.
#   [RUNS=N] bench/import-peak.sh [DISHES] [LOCAL_EVERY] [OTHER_IMP40500]
# Defaults: 100000 dishes, every second one local. Needs GNU time (/usr/bin/time).
# Environment: COMMANDS (default "import"; "check import" measures both), PG_URL (a PostgreSQL
# server's URL: each run's destination is then a fresh database there, dropped at the end).
set -euo pipefail
cd "$(dirname "$0")/.."
DISHES="${1:-100000}"
EVERY="${2:-2}"
OTHER="${3:-}"
BUILD="${BUILD:-build}"
WORK="$(mktemp -d)"
cleanup() {
  [ -n "${PG_URL:-}" ] && psql -q "$PG_URL" -c "DROP DATABASE IF EXISTS imp_peak_$$ WITH (FORCE)" >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT
"$BUILD/bin/imp40500-gen" --dishes "$DISHES" --local-every "$EVERY" --out "$WORK/f.txt" --db "sqlite:$WORK/seed.db" >/dev/null
bytes=$(stat -c %s "$WORK/f.txt")
echo "file: $DISHES dishes, one local in $EVERY, $bytes bytes; load average $(cut -d' ' -f1-3 /proc/loadavg)"
# The destination of one run: a copy of the seeded SQLite file, or with PG_URL a fresh PostgreSQL
# database on that server, seeded the same way.
dest() {
  if [ -n "${PG_URL:-}" ]; then
    psql -q "$PG_URL" -c "DROP DATABASE IF EXISTS imp_peak_$$ WITH (FORCE)" -c "CREATE DATABASE imp_peak_$$" >/dev/null
    "$BUILD/bin/imp40500-gen" --dishes 0 --db "${PG_URL%/*}/imp_peak_$$" >/dev/null
    echo "${PG_URL%/*}/imp_peak_$$"
  else
    cp "$WORK/seed.db" "$WORK/run.db"
    echo "sqlite:$WORK/run.db"
  fi
}
run() {
  local name="$1" bin="$2" cmd
  for cmd in ${COMMANDS:-import}; do
    /usr/bin/time -f "%M %e %U %S" -o "$WORK/time" "$bin" "$cmd" "$WORK/f.txt" --branch 0001 --db "$(dest)" >/dev/null
    read -r kb secs user sys <"$WORK/time"
    awk -v n="$name" -v c="$cmd" -v kb="$kb" -v s="$secs" -v u="$user" -v y="$sys" -v b="$bytes" -v l="$(cut -d' ' -f1 /proc/loadavg)" \
      'BEGIN { printf "%-8s %-6s %6.2f s (CPU %.2f s), peak %7.1f MiB = %.2f x the file (load %s)\n", n, c, s, u + y, kb / 1024, kb * 1024 / b, l }'
  done
}
# RUNS rounds (default 1), this build and the other alternating, as the machine may be shared.
for _ in $(seq "${RUNS:-1}"); do
  run this "$BUILD/bin/imp40500"
  if [ -n "$OTHER" ]; then
    run other "$OTHER"
  fi
done
