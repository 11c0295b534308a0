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

xvfb_pid=""
cleanup() { [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT

if ! command -v Xvfb >/dev/null; then
  export ZORVEK_NO_DISPLAY="Xvfb is not installed"
else
  fdfile=$(mktemp)
  exec 3>"$fdfile"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
  display=$(tr -d '\n' <"$fdfile")
  rm -f "$fdfile"
  if [ -z "$display" ]; then
    export ZORVEK_NO_DISPLAY="Xvfb did not start"
  else
    export DISPLAY=":$display"
    # Programs of an earlier server would keep the notification area on no display.
    "$server" -k 2>/dev/null || true
  fi
fi
"$run" "$build/bin/${GUI_PROGRAM:-gui_tests.exe}" "$@"
code=$?
"$server" -k 2>/dev/null || true
exit $code
