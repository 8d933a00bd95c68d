#!/usr/bin/env bash
# The export benchmark: `imp40500 export` of a branch's dishes against `sqlite3 -csv` writing the
# same rows from the same database, in the same run; prints both times (best of RUNS), the ratio,
# and the export's peak memory against the file it wrote.
#   bench/run-export.sh [DISHES] [RUNS] [LOCAL_EVERY]
#   environment: BUILD (build directory, default build)
# The source is made by importing a generated file (imp40500-gen: DISHES dishes, eight recipe lines
# each over the six recipe tables, one local dish in LOCAL_EVERY) into branch 0001.
# Targets: ratio within 1.0, peak memory under the file's size. Exit 1 when either is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
DISHES="${1:-100000}"
RUNS="${2:-3}"
EVERY="${3:-10}"
BUILD="${BUILD:-build}"
if [ ! -f "$BUILD/build.ninja" ]; then
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIMP_BUILD_BENCH=ON >/dev/null
fi
cmake --build "$BUILD" -j2 --target imp40500 imp40500-gen >/dev/null
IMP="$BUILD/bin/imp40500"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
"$BUILD/bin/imp40500-gen" --dishes "$DISHES" --local-every "$EVERY" --out "$WORK/in.txt" --db "sqlite:$WORK/src.db" >/dev/null
"$IMP" import "$WORK/in.txt" --branch 0001 --db "sqlite:$WORK/src.db" --locale pt_BR >/dev/null 2>&1
rm -f "$WORK/in.txt"
# The import never writes PRATSERV: the source gets a price per dish and service of its own.
sqlite3 "$WORK/src.db" "INSERT OR IGNORE INTO PRATSERV (CDFILIAL, CDSERVFILI, CDFILAUXPRAT, CDPRATO, VRPRECO)
  SELECT CDFILIAL, CDSERVFILI, CDFILAUXPRAT, CDPRATO, 12.5 FROM RECESERV"
# The rows the export writes, as sqlite3 writes them: each table's rows of the branch's dishes.
QUERY="SELECT * FROM SERVICO WHERE CDFILIAL = '0001';
SELECT * FROM PRATO WHERE CDFILAUXPRAT IN ('P', '0001') ORDER BY CDFILAUXPRAT, CDPRATO;
SELECT * FROM RECEPADR WHERE CDFILAUXPRAT IN ('P', '0001');
SELECT * FROM PRATPADR WHERE CDFILAUXPRAT IN ('P', '0001');
SELECT * FROM RECEFILI WHERE CDFILIAL = '0001';
SELECT * FROM PRATFILI WHERE CDFILIAL = '0001';
SELECT * FROM RECESERV WHERE CDFILIAL = '0001';
SELECT * FROM PRATSERV WHERE CDFILIAL = '0001';"
# Wall seconds, peak resident KiB and CPU seconds (user, system) of one command (/usr/bin/time), its
# output to a file. The CPU time is what a busy machine disturbs least.
measure() {
  local out="$1"
  shift
  /usr/bin/time -f "%e %M %U %S" -o "$WORK/time" "$@" >"$out" 2>/dev/null
  cat "$WORK/time"
}
best() { sort -n | head -1; }
: >"$WORK/exp.times"
: >"$WORK/csv.times"
for _ in $(seq "$RUNS"); do
  measure /dev/null "$IMP" export "$WORK/out.txt" --branch 0001 --db "sqlite:$WORK/src.db" >>"$WORK/exp.times"
  measure "$WORK/out.csv" sqlite3 -csv "$WORK/src.db" "$QUERY" >>"$WORK/csv.times"
done
exp_s=$(cut -d' ' -f1 "$WORK/exp.times" | best)
csv_s=$(cut -d' ' -f1 "$WORK/csv.times" | best)
exp_cpu=$(awk '{print $3 + $4}' "$WORK/exp.times" | best)
csv_cpu=$(awk '{print $3 + $4}' "$WORK/csv.times" | best)
peak_kb=$(cut -d' ' -f2 "$WORK/exp.times" | sort -n | tail -1)
file_b=$(stat -c %s "$WORK/out.txt")
csv_b=$(stat -c %s "$WORK/out.csv")
lines=$(wc -l <"$WORK/out.txt")
echo "export: $DISHES dishes, one local in $EVERY: $lines lines, $file_b bytes (sqlite3 -csv: $csv_b bytes); load $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v e="$exp_s" -v c="$csv_s" -v ec="$exp_cpu" -v cc="$csv_cpu" -v p="$peak_kb" -v f="$file_b" 'BEGIN {
  ratio = e / c; mem = p * 1024 / f;
  printf "imp40500 export %.2f s vs sqlite3 -csv %.2f s (best of runs): ratio %.2f (target 1.0)\n", e, c, ratio;
  printf "CPU (user + system) %.2f s vs %.2f s: ratio %.2f\n", ec, cc, (cc > 0 ? ec / cc : 0);
  printf "peak memory %.1f MiB = %.2fx the file (target under 1)\n", p / 1024, mem;
  exit (ratio <= 1.0 && mem < 1.0) ? 0 : 1 }'
