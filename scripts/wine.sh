#!/usr/bin/env bash
# Locates the Wine loader (Debian's wine64 has no `wine` on PATH), creates the prefix on first use
# (serialised, since ctest may start several programs at once) and runs the program.
set -e
loader=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEPREFIX WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$loader" wineboot -i >/dev/null 2>&1 || true
      "$(dirname "$loader")/wineserver" -w 2>/dev/null || wineserver -w 2>/dev/null || true
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# The first Wine program of a session starts the prefix's system processes (services.exe,
# winedevice.exe, rpcss.exe...), which inherit its standard handles and live until the session
# ends. A caller capturing that program's output through a pipe, as $(...) does, would then wait
# for the end of the session, which a running service postpones indefinitely. So when no session
# runs, start one with those handles detached (a running server makes wineserver exit with 2).
server="$(dirname "$loader")/wineserver"
[ -x "$server" ] || server=$(command -v wineserver || echo wineserver)
(
  flock 9
  if "$server" 9>&- </dev/null >/dev/null 2>&1; then
    "$loader" wineboot 9>&- </dev/null >/dev/null 2>&1 || true
  fi
) 9>"$WINEPREFIX.lock"
exec "$loader" "$@"
