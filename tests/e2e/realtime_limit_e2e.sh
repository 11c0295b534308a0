#!/usr/bin/env bash
# The kernel's inotify watch limit reached: the native service says so once, keeps what it
# watches and still detects a file dropped there. The limit is lowered in a user namespace of the
# test's own, so the machine's limit is left alone (skipped where no such namespace can be made).
# Usage: realtime_limit_e2e.sh BIN_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" "$1"

limit_line="real-time: inotify watch limit reached"
if ! unshare -U -r sh -c 'echo 2 >/proc/sys/user/max_inotify_watches' 2>/dev/null; then
  echo "no user namespace with an inotify limit of its own: skipped"
  exit 77
fi

# Two watches: the watched folder and one of its three subfolders.
mkdir -p "$work/watched/a" "$work/watched/b" "$work/watched/c"
unshare -U -r sh -c 'echo 2 >/proc/sys/user/max_inotify_watches && exec "$0" --console' "$svc" \
  >"$work/console.txt" 2>&1 &
pid=$!
log=$ZORVEK_DATA_DIR/zorvek.log
for _ in $(seq 200); do
  grep -q "real-time: watching" "$log" 2>/dev/null && break
  sleep 0.05
done
grep -q "real-time: watching 1 of 1 folders" "$log" || { fail "watcher did not start: $(cat "$log")"; exit 1; }
[ "$(grep -c "$limit_line" "$log")" = 1 ] || fail "limit not logged once at the start: $(cat "$log")"

# New folders meet the limit again: no second line for them.
mkdir -p "$work/watched/d" "$work/watched/e/f"
sleep 0.5
printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' \
  >"$work/watched/dropped.com"
expect 0 "detection in the watched folder" -- "$ctl" watch --count 1 --seconds 20
contains "detection in the watched folder" "$work/watched/dropped.com"
[ "$(grep -c "$limit_line" "$log")" = 1 ] || fail "limit logged again: $(cat "$log")"

kill -INT "$pid"
wait "$pid"
code=$?
pid=
[ "$code" = 0 ] || fail "console service exit $code after SIGINT"
exit $((failures > 0))
