#!/usr/bin/env bash
# The property test of tests/exportfile/tst_property.cpp over many more generated files than CI
# runs: the dishes check's preview lists are those import writes, those it flags those import
# refuses, and SQLite and PostgreSQL end with the same seven tables.
#   bench/run-property.sh [FILES] [SEED] [BINARY_EVERY]
# Defaults: 1000 files from seed 1, every 16th through the imp40500 binary (1: all of them).
# PostgreSQL when IMP_TEST_PG_URL names one, else SQLite only. Prints the run's figures, then each
# failure with its seed (IMP_PROPERTY_SEED=<seed> IMP_PROPERTY_FILES=1 build/bin/tst_property
# replays it); the files that failed stay in BUILD/bench-property/ with the --pair options they
# take. BUILD: the build directory (default build).
set -uo pipefail
cd "$(dirname "$0")/.."
FILES="${1:-1000}"
SEED="${2:-1}"
EVERY="${3:-16}"
BUILD="${BUILD:-build}"
cmake --build "$BUILD" -j2 --target tst_property imp40500 >/dev/null || exit 1
OUT="$BUILD/bench-property"
rm -rf "$OUT"
mkdir -p "$OUT/config"
[ -n "${IMP_TEST_PG_URL:-}" ] || echo "IMP_TEST_PG_URL unset: SQLite only"
start=$(date +%s%N)
IMP_PROPERTY_FILES="$FILES" IMP_PROPERTY_SEED="$SEED" IMP_PROPERTY_BINARY_EVERY="$EVERY" IMP_PROPERTY_KEEP="$OUT" \
  LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$OUT/config" QTEST_FUNCTION_TIMEOUT=86400000 \
  "$BUILD/bin/tst_property" -maxwarnings 0 >"$OUT/log" 2>&1
status=$?
ms=$(( ($(date +%s%N) - start) / 1000000 ))
sed -n 's/^QINFO  : TstProperty::checkIsImport() //p' "$OUT/log"
echo "$ms ms (load average $(cut -d' ' -f1-3 /proc/loadavg))"
if [ "$status" != 0 ]; then
  sed -n 's/^QWARN  : TstProperty::checkIsImport() //p; /^    /p' "$OUT/log"
  seeds=$(grep -o '^QWARN  : TstProperty::checkIsImport() seed [0-9]*' "$OUT/log" | grep -o '[0-9]*$' | sort -nu | tr '\n' ' ')
  echo "failing seeds: ${seeds:-none named (see $OUT/log)}"
  echo "files kept in $OUT"
fi
exit "$status"
