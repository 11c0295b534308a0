# Sourced by scripts that install the suite into a Wine prefix of their own (the install tests and
# the demo). wine_fresh_prefix SCRATCH WINE_RUN makes SCRATCH/prefix with its shell folders in
# SCRATCH/home and Wine's menu builder off, so no shortcut or menu entry reaches the real home
# folder; wine_fresh_cleanup ends every process of the prefix.

wine_fresh_prefix() {
  local scratch=$1 run=$2
  export WINEPREFIX=$scratch/prefix HOME=$scratch/home
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  local loader
  loader=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
  WINE_FRESH_SERVER=$(dirname "$(readlink -f "$loader")")/wineserver
  [ -x "$WINE_FRESH_SERVER" ] || WINE_FRESH_SERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  mkdir -p "$HOME"
  "$run" wineboot -i >/dev/null 2>&1
  # The session that made the prefix leaves the service manager slow to start services (about
  # 10 s a start): let it end; what follows runs in a session of its own.
  "$WINE_FRESH_SERVER" -w
  # The prefix's services end with its last user process: this one holds them up, so an
  # installed service outlives the installer that started it.
  "$run" cmd /c "ping -n 3600 127.0.0.1 >nul" >/dev/null 2>&1 &
}

wine_fresh_cleanup() {
  [ -n "${WINE_FRESH_SERVER:-}" ] || return 0
  "$WINE_FRESH_SERVER" -k 2>/dev/null
  "$WINE_FRESH_SERVER" -w 2>/dev/null
  return 0
}
