#!/usr/bin/env bash
# Drives a real ZorvekService --console through zorvekctl: every request, the refusals for an
# unprivileged client, and a clean stop by SIGINT.
# Usage: service_e2e.sh BIN_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" "$1"

# Somebody other than us and root, for the refusals.
as_other=
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  as_other="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi

mkdir -p "$work/corpus"
printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$work/corpus/eicar.com"
echo "just text" >"$work/corpus/notes.txt"
printf 'MZ-not-really' >"$work/corpus/tool.exe"
eicar=$work/corpus/eicar.com

expect 2 "unreachable service" -- "$ctl" status
expect 1 "ping without a service" -- "$svc" --ping
[ "$(grep -c '^попытка [123]: ' <<<"$out")" = 3 ] || fail "ping without a service: $out"
contains "ping without a service" "служба не запущена или канал не создан"
start_service || exit 1
grep -q "служба запущена в консольном режиме" "$work/console.txt" || fail "console banner missing"

expect 0 status -- "$ctl" status
contains status "1.2.0"
expect 0 "json status" -- "$ctl" --json status
contains "json status" '"version":"1.2.0"'
expect 0 ping-mode -- "$svc" --ping
contains ping-mode "служба отвечает"
contains ping-mode "  сигнатуры:   "
# The first option in the fixed order decides, wherever it stands.
expect 0 "console and ping" -- "$svc" --console --pinged
contains "console and ping" "служба отвечает"
expect 4 update-check -- "$svc" --update-check
contains update-check "обновление не удалось: не задан сервер обновлений (строка UpdateServer в settings.ini)"

expect 0 scan -- "$ctl" scan --wait "$work/corpus"
contains scan "угроз:            1"
expect 0 detections -- "$ctl" --json detections
contains detections "$eicar"
expect 0 progress -- "$ctl" --json progress
contains progress '"phase":"finished"'
expect 0 cancel -- "$ctl" cancel
expect 0 allow -- "$ctl" decide "$eicar" allow
[ -f "$eicar" ] || fail "allow removed the file"
expect 1 "decide unknown" -- "$ctl" decide "$work/corpus/notes.txt" delete
contains "decide unknown" "no such detection"
expect 0 quarantine -- "$ctl" decide "$eicar" quarantine
[ -f "$eicar" ] && fail "quarantined file still in place"
expect 0 "quarantine list" -- "$ctl" --json quarantine list
contains "quarantine list" "$eicar"
id=$(sed -n 's/.*"id":\([0-9]*\).*/\1/p' <<<"$out")
expect 0 restore -- "$ctl" quarantine restore "$id"
[ -f "$eicar" ] || fail "restore did not bring the file back"
expect 1 "restore again" -- "$ctl" quarantine restore "$id"
expect 1 "delete missing" -- "$ctl" quarantine delete 1
expect 0 "config set" -- "$ctl" config set ScheduledHour=5 ScanArchives=1
expect 0 "config get" -- "$ctl" config get
contains "config get" "ScheduledHour=5"
contains "config get" "ScanArchives=1"
expect 2 "config bad key" -- "$ctl" config set NoSuchKey=1
expect 0 reload -- "$ctl" reload
fw_unavailable="брандмауэр недоступен: в этой системе нет брандмауэра Windows"
expect 0 firewall -- "$ctl" firewall status
contains firewall "$fw_unavailable"
expect 0 fw-mode -- "$svc" --fw
contains fw-mode "error,$fw_unavailable"
expect 0 "firewall json" -- "$ctl" --json firewall status
contains "firewall json" "\"errors\":[\"$fw_unavailable\"]"
expect 1 "firewall change" -- "$ctl" firewall profile private on
contains "firewall change" "$fw_unavailable"
expect 2 usage -- "$ctl" frobnicate
expect 0 "scan memory" -- "$ctl" scan --wait memory

if [ -n "$as_other" ]; then
  expect 1 "shutdown by another user" -- $as_other "$ctl" shutdown
  contains "shutdown by another user" "access denied"
  expect 1 "quarantine folder by another user" -- $as_other "$ctl" config set QuarantineDir=/tmp/elsewhere
  contains "quarantine folder by another user" "access denied"
  expect 0 "switches by another user" -- $as_other "$ctl" config set ScanRemovable=1
  # The service would change the firewall with its own rights: not for somebody without them.
  for change in "profile public off" "block-inbound on" "allow /tmp/app.exe" "block /tmp/app.exe" \
                remove; do
    expect 1 "firewall $change by another user" -- $as_other "$ctl" firewall $change
    contains "firewall $change by another user" "требуются права администратора (код 0x80070005)"
  done
  expect 0 "firewall status by another user" -- $as_other "$ctl" firewall status
  contains "firewall status by another user" "$fw_unavailable"
  expect 0 "still running" -- "$ctl" status
else
  echo "note: not root, the refusals for another user are not exercised"
fi

# A client that connects and says nothing must not hold up the stop.
if command -v python3 >/dev/null; then
  python3 -c 'import socket,sys,time; s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1]); time.sleep(5)' \
    "$ZORVEK_PIPE" &
  idle=$!
  sleep 0.3
fi

t0=$(date +%s%N)
kill -INT "$pid"
wait "$pid"
code=$?
t1=$(date +%s%N)
pid=
[ "$code" = 0 ] || fail "console service exit $code after SIGINT"
echo "stop latency: $(((t1 - t0) / 1000000)) ms"
[ -n "${idle:-}" ] && kill "$idle" 2>/dev/null
grep -q "\[INF\] stopped" "$work/data/zorvek.log" || fail "no 'stopped' in the log"
grep -q "^ScheduledHour=5" "$work/data/settings.ini" || fail "settings not saved"

# Shutdown from the service's own user stops it.
start_service || exit 1
expect 0 shutdown -- "$ctl" shutdown
wait "$pid"
code=$?
pid=
[ "$code" = 0 ] || fail "exit $code after Shutdown"

[ "$failures" = 0 ] && echo "service e2e: all passed"
exit $((failures > 0))
