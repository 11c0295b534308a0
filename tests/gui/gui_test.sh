#!/usr/bin/env bash
# Runs the desktop program's window tests under Wine on a private virtual display.
# Usage: gui_test.sh BUILD_DIR [arguments...]
# GUI_PROGRAM names another program of BUILD_DIR/bin to run the same way (e.g. gui_bench.exe).
# The Wine server of the tree's prefix is ended first, so the shell process that shows the
# notification area starts on this display. Without Xvfb the tests skip, saying why.
set -uo pipefail
build=$(cd "$1" && pwd)
shift
run=$build/wine-run
export WINEPREFIX="$build/wineprefix"
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)

source "$(dirname "$0")/../../scripts/xvfb.sh"
trap 'stop_xvfb; wait 2>/dev/null' EXIT

start_xvfb
if [ -n "${DISPLAY:-}" ] && [ -z "${ZORVEK_NO_DISPLAY:-}" ]; then
  # Programs of an earlier server would keep the notification area on no display.
  "$server" -k 2>/dev/null || true
  # Xvfb runs no window manager, and Wine waits two seconds for one whenever a framed window
  # (the threat dialog, a message box) goes away. Windows it does not hand to a manager go at
  # once; nothing the tests look at depends on a manager.
  if ! grep -qs '^"Managed"="N"' "$WINEPREFIX/user.reg"; then
    "$run" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
  fi
fi
"$run" "$build/bin/${GUI_PROGRAM:-gui_tests.exe}" "$@"
code=$?
"$server" -k 2>/dev/null || true
exit $code
