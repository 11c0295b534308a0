# Sourced by the scripts that show windows under Wine. start_xvfb starts a private virtual
# display and exports DISPLAY; without Xvfb (or when it does not start) it exports
# ZORVEK_NO_DISPLAY with the reason instead, and the window tests skip. stop_xvfb ends it.

start_xvfb() {
  XVFB_PID=""
  if ! command -v Xvfb >/dev/null; then
    export ZORVEK_NO_DISPLAY="Xvfb is not installed"
    return 0
  fi
  local fdfile display
  fdfile=$(mktemp)
  exec 3>"$fdfile"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$fdfile" ] && break; sleep 0.05; done
  display=$(tr -d '\n' <"$fdfile")
  rm -f "$fdfile"
  if [ -z "$display" ]; then
    export ZORVEK_NO_DISPLAY="Xvfb did not start"
  else
    export DISPLAY=":$display"
  fi
}

stop_xvfb() {
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null
  XVFB_PID=""
  return 0
}
