# Shared by the end-to-end scripts that drive a real ZorvekService --console through zorvekctl.
# Source it with BIN_DIR as $1: it sets bin, svc, ctl, a private work folder, data folder and
# socket, the cleanup that kills the service, and the helpers below.
bin=$(cd "$1" && pwd)
svc=$bin/ZorvekService
ctl=$bin/zorvekctl
work=$(mktemp -d)
chmod 755 "$work"
# Real-time protection watches a folder of the test's own, not the machine's folders.
export ZORVEK_DATA_DIR=$work/data ZORVEK_PIPE=$work/svc.sock ZORVEK_WATCH_DIRS=$work/watched
mkdir -p "$work/watched"
pid=
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# expect CODE DESCRIPTION -- command...: runs it, keeps its output in $out.
expect() {
  local want=$1 what=$2
  shift 3
  out=$("$@" 2>&1)
  local got=$?
  [ "$got" = "$want" ] || fail "$what: exit $got, want $want: $out"
}
contains() { grep -qF -- "$2" <<<"$out" || fail "$1: no '$2' in: $out"; }

# Starts the service in the background ($pid) and waits until it answers.
start_service() {
  "$svc" --console >"$work/console.txt" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    "$ctl" status >/dev/null 2>&1 && return 0
    sleep 0.05
  done
  fail "service did not answer"
  return 1
}
