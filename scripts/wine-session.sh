#!/usr/bin/env bash
# Runs a command with one persistent wineserver for the build tree's prefix, so the many short
# Wine processes of a test run do not each start their own; stops that server afterwards.
#   wine-session.sh BUILD_DIR COMMAND...
set -euo pipefail
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
loader=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
server=$(command -v wineserver || echo "$(dirname "$loader")/wineserver")
# Create the prefix first: the server needs its folder.
"$(dirname "$0")/wine.sh" cmd /c exit 0 >/dev/null 2>&1 || true
"$server" -p
trap '"$server" -k 2>/dev/null || true' EXIT
"$@"
