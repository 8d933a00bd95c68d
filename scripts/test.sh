#!/usr/bin/env bash
# Installs, builds and runs every test (SQLite and PostgreSQL), then a bounded fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
export IMP_TEST_PG_URL="$(bash scripts/start-postgres.sh)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMP_BUILD_BENCH=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
if [ -x scripts/fuzz.sh ]; then bash scripts/fuzz.sh 60; fi
