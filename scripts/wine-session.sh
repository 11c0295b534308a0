#!/usr/bin/env bash
# Runs a command with one persistent wineserver for the build tree's prefix, so the many short
# Wine processes of a test run do not each start their own; stops that server afterwards.
#   wine-session.sh BUILD_DIR COMMAND...
set -euo pipefail
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
loader=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
# Debian's `wineserver` wrapper adds -p0 (exit with the last client); call the binary itself.
server=$(ls "$(dirname "$loader")"/wineserver64 2>/dev/null || command -v wineserver)
# The server needs the prefix folder; the first Wine program fills it in. A server that is
# already running for this prefix (it lingers a few seconds after its last program) is used as is.
mkdir -p "$WINEPREFIX"
"$server" -p </dev/null >/dev/null 2>&1 || true
trap '"$server" -k 2>/dev/null || true' EXIT
"$@"
