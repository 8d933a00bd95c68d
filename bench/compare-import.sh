#!/usr/bin/env bash
# Compares what `imp40500 import` of two builds leaves in the destination (SQLite), over generated
# export files (imp40500-gen) with several shares of local dishes, each imported twice into the
# same destination (the second import replaces what the first wrote): the rows of the dish and
# recipe tables must be the same, byte for byte, and so must the reports (text, then JSON, without
# what the JSON gained since: bench/strip-added-keys.py).
#   bench/compare-import.sh OLD_IMP40500 [NEW_IMP40500] [GEN] [DISHES]
# Defaults: build/bin/imp40500, build/bin/imp40500-gen, 2000 dishes. A program that needs its own
# libraries can be a wrapper script.
set -uo pipefail
cd "$(dirname "$0")/.."
OLD="${1:?usage: $0 OLD_IMP40500 [NEW_IMP40500] [GEN] [DISHES]}"
NEW="${2:-build/bin/imp40500}"
GEN="${3:-build/bin/imp40500-gen}"
DISHES="${4:-2000}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# Every row of the tables an import writes, sorted; the pairings without the time they were made.
dump() {
  for t in PRATO RECEPADR RECEFILI RECESERV PRATPADR PRATFILI SERVPARE; do
    sqlite3 "$1" "SELECT '$t', * FROM $t" | sort
  done | sed -E '/^SERVPARE/s/\|[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9:.]+$//'
}
runs=0
differing=0
for every in 0 1 2 7; do
  "$GEN" --dishes "$DISHES" --local-every "$every" --out "$WORK/f.txt" --db "sqlite:$WORK/seed.db" >/dev/null || exit 1
  for side in old new; do
    bin="$OLD"
    [ "$side" = new ] && bin="$NEW"
    cp "$WORK/seed.db" "$WORK/$side.db"
    # The first import with the text report, the second with the JSON one.
    "$bin" import "$WORK/f.txt" --branch 0001 --db "sqlite:$WORK/$side.db" >"$WORK/$side.1.out" 2>/dev/null
    "$bin" import "$WORK/f.txt" --branch 0001 --db "sqlite:$WORK/$side.db" --json 2>/dev/null \
      | python3 bench/strip-added-keys.py >"$WORK/$side.2.out"
    dump "$WORK/$side.db" >"$WORK/$side.rows"
  done
  runs=$((runs + 1))
  if ! cmp -s "$WORK/old.rows" "$WORK/new.rows" || ! cmp -s "$WORK/old.2.out" "$WORK/new.2.out" \
    || ! cmp -s "$WORK/old.1.out" "$WORK/new.1.out"; then
    differing=$((differing + 1))
    echo "differs: $DISHES dishes, one local in $every" >&2
  fi
done
echo "compare-import: $runs files, $differing differing ($(wc -l <"$WORK/new.rows") rows in the last)"
[ "$differing" -eq 0 ]
