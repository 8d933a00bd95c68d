#!/usr/bin/env bash
# Installs, builds, creates the demo database and runs the main job on the embedded SQLite default.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
DB="sqlite:$PWD/imp40500-demo.db"
rm -f imp40500-demo.db imp40500-demo.db-wal imp40500-demo.db-shm
./build/bin/imp40500 initdb --db "$DB" --demo
export IMP_DB="$DB"
./build/bin/imp40500 check samples/pratos-exemplo.txt --branch 0001 --db "$DB" --locale pt_BR
./build/bin/imp40500 import samples/pratos-exemplo.txt --branch 0001 --db "$DB" --locale pt_BR
