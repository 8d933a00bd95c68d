#!/usr/bin/env bash
# The load benchmark: builds what it needs and runs bench_load (N dishes, default 100000) once per
# share of local dishes (percent, default "10 50"), which times `imp40500 check` against
# `sqlite3 .import` of the same lines in the same run. With REFERENCE naming another build's
# imp40500, `check --json` of both is then compared byte for byte over generated files
# (bench/compare-check.sh).
#   bench/run-load.sh [DISHES] [RUNS] [SHARES] [REFERENCE]
#   environment: BUILD (build directory, default build), LOCALE (default pt_BR)
set -euo pipefail
cd "$(dirname "$0")/.."
DISHES="${1:-100000}"
RUNS="${2:-3}"
SHARES="${3:-10 50}"
REFERENCE="${4:-}"
BUILD="${BUILD:-build}"
LOCALE="${LOCALE:-pt_BR}"
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMP_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$BUILD" -j2 --target bench_load imp40500 imp40500-gen
status=0
for share in $SHARES; do
  echo "== $share% local dishes, locale $LOCALE (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  "$BUILD/bin/bench_load" --dishes "$DISHES" --runs "$RUNS" --local "$share" --locale "$LOCALE" || status=1
done
if [ -n "$REFERENCE" ]; then
  echo "== check --json against $REFERENCE"
  bash bench/compare-check.sh "$REFERENCE" "$BUILD/bin/imp40500" "$BUILD/bin/imp40500-gen" || status=1
fi
exit $status
