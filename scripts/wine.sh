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
exec "$loader" "$@"
