#!/usr/bin/env bash
# Slow clients against one imp40500-server on loopback (SQLite destination): 600 connections that
# send a request's head one byte every 0.9 s, 300 authenticated bodies of a declared 500 MiB sent
# 100 bytes every 0.9 s, and meanwhile real requests (GetParamGeral, 5 a second for 30 s): their
# median, 99th percentile and maximum (bench/slowclients.py). Then, on a fresh server, three bodies
# of 400 MiB at once: the statuses, and the server's peak memory and its memory 5 s later.
#   bench/run-slowclients.sh [SERVER_BINARY]
#   environment: BUILD (build directory, default build), SECONDS_REAL (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${BUILD:-build}"
SERVER="${1:-$BUILD/bin/imp40500-server}"
if [ "$#" -eq 0 ]; then
  cmake --build "$BUILD" -j2 --target imp40500 imp40500-server >/dev/null
fi
WORK="$(mktemp -d)"
pid=""
stop_server() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    pid=""
  fi
}
trap 'stop_server; rm -rf "$WORK"' EXIT
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
"$BUILD/bin/imp40500" initdb --demo --db "sqlite:$WORK/dest.db" >/dev/null
echo s3gr3d0 >"$WORK/token"

start_server() {
  "$SERVER" --db "sqlite:$WORK/dest.db" --listen 127.0.0.1:0 --token-file "$WORK/token" \
    >"$WORK/out" 2>"$WORK/log" &
  pid=$!
  for _ in $(seq 100); do
    grep -q escutando "$WORK/out" 2>/dev/null && break
    sleep 0.1
  done
  port="$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$WORK/out")"
}

echo "== slow clients (load average $(cut -d' ' -f1-3 /proc/loadavg))"
start_server
python3 bench/slowclients.py --port "$port" --token s3gr3d0 --pid "$pid" --seconds "${SECONDS_REAL:-30}"
stop_server

echo "== three bodies of 400 MiB at once (load average $(cut -d' ' -f1-3 /proc/loadavg))"
start_server
python3 bench/slowclients.py --port "$port" --token s3gr3d0 --pid "$pid" --slow-headers 0 --slow-bodies 0 \
  --seconds 1 --big-bodies 3 --big-mb 400
stop_server
