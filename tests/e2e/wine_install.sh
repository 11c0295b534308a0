#!/usr/bin/env bash
# Runs install_e2e_tests.exe in a Wine prefix made for this run and removed afterwards, so the
# installs, services and registry entries of the test never meet the build tree's prefix. The
# wizard's walks run in the same prefix on a private virtual display.
# Usage: wine_install.sh BUILD_DIR [gtest arguments...]
set -uo pipefail
build=$(cd "$1" && pwd)
shift
source "$(dirname "$0")/../../scripts/wine-fresh.sh"
source "$(dirname "$0")/../../scripts/xvfb.sh"
scratch=$(mktemp -d /tmp/zorvek-install.XXXXXX)
unset ZORVEK_PIPE ZORVEK_DATA_DIR ZORVEK_HOSTS
trap 'wine_fresh_cleanup; stop_xvfb; rm -rf "$scratch"' EXIT

# The wizard's tests show its window: the prefix is made on this display, so its desktop is there.
unset DISPLAY ZORVEK_NO_DISPLAY
start_xvfb

t0=$(date +%s%N)
wine_fresh_prefix "$scratch" "$build/wine-run"
t1=$(date +%s%N)
echo "fresh prefix: $(((t1 - t0) / 1000000)) ms"
ZORVEK_INSTALL_E2E=1 "$build/wine-run" "$build/bin/install_e2e_tests.exe" "$@"
code=$?
echo "install tests: $((($(date +%s%N) - t1) / 1000000)) ms"
exit $code
