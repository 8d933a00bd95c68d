#!/usr/bin/env bash
# What `imp40500 import` costs beyond `imp40500 check` of the same file (embedded server, SQLite),
# against `sqlite3 .import` of the same lines as CSV into a fresh database, all in the same round;
# with OTHER naming another build's imp40500 (a wrapper script when it needs its own libraries),
# its check and import run in the same rounds. Prints per round, then the minimum and median of
# each side: wall and CPU (user + system) seconds, the ratio (import - check) / .import, and the
# import's peak resident size against the file.
#   [RUNS=N] bench/import-beyond-check.sh [DISHES] [LOCAL_EVERY] [OTHER_IMP40500]
# Defaults: 100000 dishes, every second one local, 5 rounds. Needs GNU time and sqlite3.
set -euo pipefail
cd "$(dirname "$0")/.."
DISHES="${1:-100000}"
EVERY="${2:-2}"
OTHER="${3:-}"
BUILD="${BUILD:-build}"
RUNS="${RUNS:-5}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
"$BUILD/bin/imp40500-gen" --dishes "$DISHES" --local-every "$EVERY" --out "$WORK/f.txt" --csv "$WORK/f.csv" \
  --db "sqlite:$WORK/seed.db" >/dev/null
bytes=$(stat -c %s "$WORK/f.txt")
cols=$(head -1 "$WORK/f.csv" | awk -F, '{ print NF }')
# The CSV's widest line sets the table's columns; every line is padded to it by the generator.
printf 'CREATE TABLE t(%s);\n.import --csv %s t\n' "$(seq -s, -f 'c%g' 1 "$cols")" "$WORK/f.csv" >"$WORK/import.sql"
cat "$WORK/f.txt" "$WORK/f.csv" >/dev/null
echo "file: $DISHES dishes, one local in $EVERY, $bytes bytes; $RUNS rounds; load average $(cut -d' ' -f1-3 /proc/loadavg)"
# One timed program: "wall cpu peak_kb" into $WORK/t.
timed() {
  /usr/bin/time -f "%e %U %S %M" -o "$WORK/time" "$@" >/dev/null 2>"$WORK/err" || { cat "$WORK/err" >&2; exit 1; }
  awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$WORK/time" >"$WORK/t"
}
side() {
  local name="$1" bin="$2" sq="$3"
  timed "$bin" check "$WORK/f.txt" --branch 0001 --db "sqlite:$WORK/seed.db"
  read -r cw cc _ <"$WORK/t"
  cp "$WORK/seed.db" "$WORK/run.db"
  timed "$bin" import "$WORK/f.txt" --branch 0001 --db "sqlite:$WORK/run.db"
  read -r iw ic ik <"$WORK/t"
  read -r sw sc <<<"$sq"
  awk -v n="$name" -v cw="$cw" -v cc="$cc" -v iw="$iw" -v ic="$ic" -v ik="$ik" -v sw="$sw" -v sc="$sc" -v b="$bytes" \
    -v l="$(cut -d' ' -f1 /proc/loadavg)" -v f="$WORK/rounds" 'BEGIN {
      printf "%-6s check %6.2f s (CPU %6.2f)  import %6.2f s (CPU %6.2f)  beyond/.import wall %.2f CPU %.2f  peak %.2f x file  load %s\n",
        n, cw, cc, iw, ic, (iw - cw) / sw, (ic - cc) / sc, ik * 1024 / b, l
      printf "%s %.4f %.4f %.4f\n", n, (iw - cw) / sw, (ic - cc) / sc, ik * 1024 / b >>f }'
}
for _ in $(seq "$RUNS"); do
  rm -f "$WORK/fresh.db"
  timed sqlite3 "$WORK/fresh.db" -init /dev/null <"$WORK/import.sql"
  read -r sw sc _ <"$WORK/t"
  printf '.import %6.2f s (CPU %6.2f)\n' "$sw" "$sc"
  side this "$BUILD/bin/imp40500" "$sw $sc"
  if [ -n "$OTHER" ]; then
    side other "$OTHER" "$sw $sc"
  fi
done
# Minimum and median of each column per side.
for name in this other; do
  grep -q "^$name " "$WORK/rounds" 2>/dev/null || continue
  grep "^$name " "$WORK/rounds" | awk -v n="$name" '
    { w[NR] = $2; c[NR] = $3; p[NR] = $4 }
    function stat(a, k,   i, j, t) {
      for (i = 1; i <= k; i++) for (j = i + 1; j <= k; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
      return sprintf("min %.2f median %.2f", a[1], a[int((k + 1) / 2)])
    }
    END { printf "%-6s beyond/.import wall %s; CPU %s; peak x file %s\n", n, stat(w, NR), stat(c, NR), stat(p, NR) }'
done
