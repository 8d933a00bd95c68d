#!/usr/bin/env bash
# Creates the demo destination database and opens the host with "Importação de Prato" on it.
#   scripts/run-host.sh [extra host options]
# BUILD_DIR (default build) names the build; IMP_DEMO_DB the SQLite file (default BUILD_DIR/demo.sqlite).
# The demo operator is ADMIN of branch 0001; the sample export file is samples/pratos-exemplo.txt.
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

"$BIN/imp40500" initdb --db "sqlite:$DB" --demo

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
