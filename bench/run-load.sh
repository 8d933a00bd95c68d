#!/usr/bin/env bash
# The load benchmark: builds what it needs and runs bench_load (N dishes, default 100000), which
# times `imp40500 check` against `sqlite3 .import` of the same lines in the same run.
#   bench/run-load.sh [DISHES] [RUNS] [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
DISHES="${1:-100000}"
RUNS="${2:-3}"
BUILD="${3:-build}"
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMP_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$BUILD" -j2 --target bench_load imp40500 imp40500-gen
"$BUILD/bin/bench_load" --dishes "$DISHES" --runs "$RUNS"
