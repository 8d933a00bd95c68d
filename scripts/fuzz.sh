#!/usr/bin/env bash
# Builds the fuzz targets with clang in their own build directory and runs them for the given
# number of seconds in all (default 60), split in halves: first the export file's reader target and
# value target side by side (one worker each), then the application server's dispatch, each from
# a small seed corpus.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
SECS="${1:-60}"
BUILD=build-fuzz
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,fuzzer-no-link -fno-omit-frame-pointer" \
  -DIMP_BUILD_FUZZ=ON -DIMP_BUILD_TESTS=OFF -DIMP_BUILD_BENCH=OFF -DIMP_BUILD_GUI=OFF >/dev/null
cmake --build "$BUILD" -j2 --target fuzz_reader fuzz_values fuzz_server
SERVER_SECS=$(( SECS / 2 ))
SECS=$(( SECS - SERVER_SECS ))

SEEDS="$BUILD/fuzz-seeds"
CORPUS="$BUILD/fuzz-corpus"
mkdir -p "$SEEDS" "$CORPUS"
# Seeds: the sample file, a minimal well-formed file, bare line feeds, values of every kind.
{ printf '\x40'; cat samples/pratos-exemplo.txt; } > "$SEEDS/sample"
printf '\x03PRATO\xf8\r\nMASCARA\xf8999.999\xf8\r\nBASE DE DADOS\xf8\r\nPRATO\xf8P\xf81\xf8\r\n' > "$SEEDS/small"
printf '\x01  PRATO\xf8\n\n\tRECEPADR\xf8P\xf81\xf8000101\xf8KG\xf80,5\xf8\n' > "$SEEDS/lf"
printf '\x05X\xf81,5\xf8-2,25E3\xf85/3/2024 14:30:15\xf829/2/2023\xf8\x80\x81\x9f\xff\xf8\r' > "$SEEDS/values"
printf '1,5' > "$SEEDS/v-number"; printf -- '-2,25E3' > "$SEEDS/v-exp"; printf '5/3/2024 14:30:15' > "$SEEDS/v-date"
printf '3/5/24 1:30 PM' > "$SEEDS/v-us"; printf '29/2/2023' > "$SEEDS/v-bad"; printf 'S' > "$SEEDS/v-bool"

status=0
for target in fuzz_reader fuzz_values; do
  mkdir -p "$CORPUS/$target"
  ASAN_OPTIONS="${ASAN_OPTIONS:-}" \
    "$BUILD/bin/$target" -max_total_time="$SECS" -max_len=65536 -rss_limit_mb=2048 \
    -timeout=10 -print_final_stats=1 "$CORPUS/$target" "$SEEDS" > "$BUILD/$target.log" 2>&1 &
done
for job in $(jobs -p); do wait "$job" || status=1; done
for target in fuzz_reader fuzz_values; do
  echo "== $target"; cat "$BUILD/$target.log"
  awk -v t="$target" '/^stat::number_of_executed_units/ {n=$2} /^Done [0-9]+ runs in/ {s=$5}
    END {if (s > 0) printf "%s: %d executions in %d s = %d exec/s\n", t, n, s, n / s}' "$BUILD/$target.log"
done
[ "$status" = 0 ] || exit "$status"

# The server's dispatch: requests of every method, written by the target itself.
SERVER_SEEDS="$BUILD/fuzz-server-seeds"
SERVER_CORPUS="$BUILD/fuzz-server-corpus"
mkdir -p "$SERVER_SEEDS" "$SERVER_CORPUS"
IMP_FUZZ_WRITE_SEEDS="$SERVER_SEEDS" QT_QPA_PLATFORM=offscreen "$BUILD/bin/fuzz_server"
ASAN_OPTIONS="${ASAN_OPTIONS:-}" QT_QPA_PLATFORM=offscreen \
  "$BUILD/bin/fuzz_server" -max_total_time="$SERVER_SECS" -max_len=65536 -rss_limit_mb=2048 \
  -timeout=10 -print_final_stats=1 "$SERVER_CORPUS" "$SERVER_SEEDS"
