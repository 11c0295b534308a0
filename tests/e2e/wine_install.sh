#!/usr/bin/env bash
# Runs install_e2e_tests.exe in a Wine prefix made for this run and removed afterwards, so the
# installs, services and registry entries of the test never meet the build tree's prefix. The
# prefix's shell folders point into a scratch home and Wine's menu builder is off: no shortcut or
# menu entry reaches the real home folder.
# Usage: wine_install.sh BUILD_DIR [gtest arguments...]
set -uo pipefail
build=$(cd "$1" && pwd)
shift
scratch=$(mktemp -d /tmp/zorvek-install.XXXXXX)
export WINEPREFIX=$scratch/prefix HOME=$scratch/home
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset ZORVEK_PIPE ZORVEK_DATA_DIR ZORVEK_HOSTS
mkdir -p "$HOME"
loader=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(dirname "$(readlink -f "$loader")")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
cleanup() {
  "$wineserver" -k 2>/dev/null
  "$wineserver" -w 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

t0=$(date +%s%N)
"$build/wine-run" wineboot -i >/dev/null 2>&1
# A session that made the prefix leaves the service manager slow to start services (about 10 s
# per start): let it end, and run the tests in a session of their own.
"$wineserver" -w
# The prefix's services end with its last user process: this one holds them up for the whole
# run, so the installed service outlives each installer.
"$build/wine-run" cmd /c "ping -n 3600 127.0.0.1 >nul" >/dev/null 2>&1 &
t1=$(date +%s%N)
echo "fresh prefix: $(((t1 - t0) / 1000000)) ms"
ZORVEK_INSTALL_E2E=1 "$build/wine-run" "$build/bin/install_e2e_tests.exe" "$@"
code=$?
t2=$(date +%s%N)
echo "install tests: $(((t2 - t1) / 1000000)) ms"
exit $code
