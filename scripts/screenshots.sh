#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png from the real desktop program under Wine: builds the
# Windows tree, then runs its window tests on a virtual display with ZORVEK_SCREENSHOTS set, so
# the states users see (service absent, protected, scan running and finished, every page, the
# threat dialog) are written there.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target gui_tests ZorvekAntivirus ZorvekService
mkdir -p docs/screenshots
export ZORVEK_SCREENSHOTS="Z:${PWD//\//\\}\\docs\\screenshots"
bash tests/gui/gui_test.sh build/win64
ls -l docs/screenshots/*.png
