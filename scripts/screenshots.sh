#!/usr/bin/env bash
# Regenerates the documentation's pictures (docs/screenshots/*.png, shown by the README and by the
# screen's help) from the screen tests that take them, on the offscreen platform. The tests
# themselves write their pictures into the build folder; only this command writes into docs/.
#   bash scripts/screenshots.sh [BUILD_DIR]     (default: build; builds what it needs with -j2)
# Afterwards rebuild: the help carries the pictures as resources.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
cmake --build "$build" -j2 --target tst_screen_lifecycle tst_screen_import tst_history_window tst_screen_errprev \
    tst_export_screen
out="$root/docs/screenshots"
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8 IMP_SOURCE_DIR="$root" IMP_SCREENSHOT_DIR="$out"
"$build/bin/tst_screen_lifecycle" rendersScreenshot
"$build/bin/tst_screen_import" sampleFromPickToImport errorPanelFromTheScreen serviceEditLocksDishTabAndImport
"$build/bin/tst_history_window" listsNewestFirstAndSorts
"$build/bin/tst_screen_errprev" errorMenu
"$build/bin/tst_export_screen" savesTheBranchsDishes
ls -l "$out"
