#!/usr/bin/env bash
# Compares `imp40500 check --json` of two builds over generated export files (imp40500-gen): the
# output must be byte for byte the same for files without anything to warn about.
#   bench/compare-check.sh OLD_IMP40500 [NEW_IMP40500] [GEN]
# Defaults: build/bin/imp40500 and build/bin/imp40500-gen. 325 files (5 locales, C with month names,
# x 5 shares of local dishes x 13 sizes up to 233 dishes), each with its own fresh destination per
# binary. A program that needs its own libraries can be a wrapper script.
# The top-level key "preview" (what an import would change), written last by the builds that have
# it, and each dish's "erros" texts are taken off both outputs before they are compared
# (bench/strip-added-keys.py): everything else must still match.
set -uo pipefail
cd "$(dirname "$0")/.."
OLD="${1:?usage: $0 OLD_IMP40500 [NEW_IMP40500] [GEN]}"
NEW="${2:-build/bin/imp40500}"
GEN="${3:-build/bin/imp40500-gen}"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# What this build added to the JSON is taken off both outputs (bench/strip-added-keys.py).
without_preview() {
  python3 bench/strip-added-keys.py
}
runs=0
differing=0
for locale in pt_BR en_US de_DE fr_FR C; do
  for every in 0 1 2 3 7; do
    for dishes in 0 1 2 3 5 8 13 21 34 55 89 144 233; do
      rm -f "$WORK"/a.db "$WORK"/b.db
      if ! "$GEN" --dishes "$dishes" --local-every "$every" --locale "$locale" --out "$WORK/f.txt" \
           --db "sqlite:$WORK/a.db" >/dev/null 2>&1; then
        echo "imp40500-gen failed: $locale $every $dishes"
        differing=$((differing + 1))
        continue
      fi
      cp "$WORK/a.db" "$WORK/b.db"
      "$OLD" check "$WORK/f.txt" --branch 0001 --db "sqlite:$WORK/a.db" --locale "$locale" --json 2>/dev/null \
        | without_preview >"$WORK/old.json"
      old=${PIPESTATUS[0]}
      "$NEW" check "$WORK/f.txt" --branch 0001 --db "sqlite:$WORK/b.db" --locale "$locale" --json 2>/dev/null \
        | without_preview >"$WORK/new.json"
      new=${PIPESTATUS[0]}
      runs=$((runs + 1))
      if [ "$old" != "$new" ] || ! cmp -s "$WORK/old.json" "$WORK/new.json"; then
        echo "differs: --locale $locale --local-every $every --dishes $dishes (exit $old / $new)"
        differing=$((differing + 1))
      fi
    done
  done
done
echo "$runs files, $differing differing"
[ "$differing" -eq 0 ]
