#!/usr/bin/env bash
# Regenerates docs/screenshots/*.png from the real desktop program under Wine: builds the
# Windows tree, then runs its window tests on a virtual display with ZORVEK_SCREENSHOTS set, so
# the states users see (service absent, protected, scan running and finished, every page, the
# threat dialog) are written there; then the installer's wizard walks in a fresh prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target gui_tests ZorvekAntivirus ZorvekService install_e2e_tests
mkdir -p docs/screenshots
export ZORVEK_SCREENSHOTS="Z:${PWD//\//\\}\\docs\\screenshots"
bash tests/gui/gui_test.sh build/win64
bash tests/e2e/wine_install.sh build/win64 --gtest_filter='InstallE2eTest.Wizard*'
ls -l docs/screenshots/*.png
