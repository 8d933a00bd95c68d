#!/usr/bin/env bash
# Many operators at once: CLIENTS `imp40500 import` processes through one imp40500-server into one
# PostgreSQL database, each with a file of DISHES dishes of its own (codes that do not overlap,
# every second dish local, eight recipe lines each), against the same imports one after another
# into a fresh copy of the same destination. Prints both wall times, their ratio, the load average,
# how many imports failed, and the server's peak memory; then, with CHECKS=1, the same clients
# running only `check` at once.
#   bench/run-concurrency.sh [CLIENTS] [DISHES] [RUNS]
#   environment: BUILD (default build), IMP_TEST_PG_URL (the server to use; a database of its own
#   is made there and dropped at the end), CHECKS (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
CLIENTS="${1:-8}"
DISHES="${2:-12500}"
RUNS="${3:-1}"
BUILD="${BUILD:-build}"
BASE="${IMP_TEST_PG_URL:?IMP_TEST_PG_URL names the PostgreSQL server}"
DBNAME="imp_concorrencia_$$"
URL="${BASE%/*}/$DBNAME"
cmake --build "$BUILD" -j2 --target imp40500 imp40500-server imp40500-gen >/dev/null
WORK="$(mktemp -d)"
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  psql -q "$BASE" -c "DROP DATABASE IF EXISTS $DBNAME WITH (FORCE)" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

fresh() {
  psql -q "$BASE" -c "DROP DATABASE IF EXISTS $DBNAME WITH (FORCE)" >/dev/null 2>&1
  psql -q "$BASE" -c "CREATE DATABASE $DBNAME" >/dev/null
  "$BUILD/bin/imp40500-gen" --dishes 0 --db "$URL" >/dev/null
}
start_server() {
  "$BUILD/bin/imp40500-server" --db "$URL" --listen 127.0.0.1:0 >"$WORK/out" 2>"$WORK/log" &
  pid=$!
  for _ in $(seq 100); do
    grep -q escutando "$WORK/out" 2>/dev/null && break
    sleep 0.1
  done
  port="$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/out")"
}
stop_server() {
  peak="$(awk '/VmHWM/ {print int($2 / 1024)}' "/proc/$pid/status")"
  # The longest a lookup and an import waited for their answers at the server, in ms.
  slowest="$(grep -o 'method=GetPesqPrato ms=[0-9]*' "$WORK/log" | cut -d= -f3 | sort -n | tail -1 || true)"
  slowest_import="$(grep -o 'method=Importacao ms=[0-9]*' "$WORK/log" | cut -d= -f3 | sort -n | tail -1 || true)"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
}
# One client's command: import (or check) of its file through the server.
client() {
  "$BUILD/bin/imp40500" "$1" "$WORK/f$2.txt" --branch 0001 --db "$URL" --server "127.0.0.1:$port" --quiet \
    >"$WORK/c$2.out" 2>&1
}
now() { date +%s.%N; }

for i in $(seq "$CLIENTS"); do
  "$BUILD/bin/imp40500-gen" --dishes "$DISHES" --first $(((i - 1) * DISHES)) --local-every 2 \
    --out "$WORK/f$i.txt" >/dev/null
done
echo "== $CLIENTS clients of $DISHES dishes, one server, PostgreSQL (load average $(cut -d' ' -f1-3 /proc/loadavg))"
for run in $(seq "$RUNS"); do
  fresh
  start_server
  t0=$(now)
  failed=0
  for i in $(seq "$CLIENTS"); do client import "$i" || failed=$((failed + 1)); done
  t1=$(now)
  stop_server
  sequential=$(echo "$t1 - $t0" | bc)
  echo "run $run: one after another ${sequential} s, $failed failed, server peak ${peak} MiB," \
    "slowest lookup ${slowest:-0} ms, slowest import ${slowest_import:-0} ms"

  fresh
  start_server
  t0=$(now)
  pids=()
  for i in $(seq "$CLIENTS"); do client import "$i" & pids+=($!); done
  failed=0
  for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
  t1=$(now)
  stop_server
  together=$(echo "$t1 - $t0" | bc)
  echo "run $run: at once ${together} s, $failed failed, server peak ${peak} MiB, slowest lookup ${slowest:-0} ms," \
    "slowest import ${slowest_import:-0} ms; ratio $(echo "scale=3; $together / $sequential" | bc)" \
    "(load average $(cut -d' ' -f1-3 /proc/loadavg))"
  if [ "$failed" -gt 0 ]; then grep -h . "$WORK"/c*.out | sort | uniq -c | sort -rn | head -5; fi
done

if [ "${CHECKS:-1}" = 1 ]; then
  start_server
  t0=$(now)
  pids=()
  for i in $(seq "$CLIENTS"); do client check "$i" & pids+=($!); done
  failed=0
  for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
  t1=$(now)
  stop_server
  echo "checks at once: $(echo "$t1 - $t0" | bc) s, $failed failed, server peak ${peak} MiB, slowest lookup ${slowest:-0} ms"
fi
