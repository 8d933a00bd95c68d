#!/usr/bin/env bash
# Installs, builds and runs every test (SQLite and PostgreSQL; the README's examples among them),
# installs the build into a temporary prefix and runs it from there, then a bounded fuzz run of the
# export-file reader; CTest's summary is printed again at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
export IMP_TEST_PG_URL="$(bash scripts/start-postgres.sh)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMP_BUILD_BENCH=ON >/dev/null
cmake --build build -j2

status=0
ctest --test-dir build --output-on-failure -j2 2>&1 | tee build/ctest.log || status=$?

# The build installed into a temporary prefix and run from there.
install_status=0
bash scripts/install-check.sh build > build/install-check.log 2>&1 || install_status=$?
if [ "$install_status" != 0 ]; then
  cat build/install-check.log
  echo "install check FAILED (exit $install_status)"
fi

fuzz_status=0
bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}" > build/fuzz.log 2>&1 || fuzz_status=$?
if [ "$fuzz_status" != 0 ]; then
  tail -60 build/fuzz.log
  echo "fuzz run FAILED (exit $fuzz_status); full log in build/fuzz.log"
else
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' build/fuzz.log || true
  echo "fuzz run passed (${FUZZ_SECONDS:-60} s)"
fi

echo
tail -1 build/install-check.log
echo "== CTest summary"
sed -n '/tests passed/,$p' build/ctest.log
if [ "$status" = 0 ] && { [ "$fuzz_status" != 0 ] || [ "$install_status" != 0 ]; }; then status=1; fi
exit "$status"
