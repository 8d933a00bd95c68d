#!/usr/bin/env bash
# Creates the demo destination database and opens the host with "Importação de Prato" on it.
#   scripts/run-host.sh [extra host options]
# BUILD_DIR (default build) names the build; IMP_DEMO_DB the SQLite file (default BUILD_DIR/demo.sqlite),
# which is made afresh on every run. The demo operator is ADMIN of branch 0001; the screen opens with
# samples/ as its remembered directory, so the sample export file samples/pratos-exemplo.txt is
# picked with the file button.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
BIN="$BUILD_DIR/bin"
DB=${IMP_DEMO_DB:-$PWD/$BUILD_DIR/demo.sqlite}

for exe in imp40500 imp40500-host; do
  if [ ! -x "$BIN/$exe" ]; then
    echo "run-host: $BIN/$exe not found; build first: cmake -S . -B $BUILD_DIR -G Ninja && cmake --build $BUILD_DIR" >&2
    exit 1
  fi
done

# A fresh demo destination each time, so that the sample can be imported again on the screen.
rm -f "$DB" "$DB-wal" "$DB-shm" "$DB-journal"
"$BIN/imp40500" initdb --db "sqlite:$DB" --demo

# The screen offers the remembered source directory in its file field and opens its file dialog
# there: remember samples/ for the screen (program IMP40500), so the sample is one click away.
SAMPLES="$PWD/samples/"
if command -v sqlite3 >/dev/null 2>&1; then
  sqlite3 "$DB" "INSERT INTO DIRETORIOS (CDPROGRAMA, DSDIRETORIO) VALUES ('IMP40500', '${SAMPLES//\'/\'\'}');"
else
  # Checking the sample remembers its directory the same way the screen does.
  "$BIN/imp40500" check samples/pratos-exemplo.txt --branch 0001 --db "sqlite:$DB" --operator ADMIN \
    --locale pt_BR >/dev/null 2>&1 || true
fi

platform=${QT_QPA_PLATFORM:-}
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] \
   && { [ -z "$platform" ] || [ "$platform" = xcb ] || [ "${platform#wayland}" != "$platform" ]; }; then
  cat >&2 <<MSG
run-host: no display here (DISPLAY and WAYLAND_DISPLAY are unset), so the host cannot open its window.
The demo database is ready at $DB. Without a screen, use the command line on it, e.g. with the
sample file samples/pratos-exemplo.txt into branch 0001 (options: $BIN/imp40500 check --help):
  IMP_DB=sqlite:$DB IMP_OPERATOR=ADMIN $BIN/imp40500 check ...
  IMP_DB=sqlite:$DB IMP_OPERATOR=ADMIN $BIN/imp40500 import ...
On a machine with a display, run this script again.
MSG
  exit 2
fi

exec "$BIN/imp40500-host" --db "sqlite:$DB" --operator ADMIN --branch 0001 --no-sign-in --open "$@"
