#!/usr/bin/env bash
# The self-update check end to end: the reference update server offers another version with an
# "MZ" installer; `zorvekctl update self` downloads it into the data folder's updates folder and
# status offers it; a hostile version and a wrong digest are refused and leave nothing behind;
# the built-in version offers nothing. Natively, or under Wine with the build tree's wine-run.
# Usage: self_update_e2e.sh BIN_DIR [WINE_RUN]
set -uo pipefail
source "$(dirname "$0")/e2e_lib.sh" "$1" "${2:-}" SelfE2E
pid= server=
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/site/files" "$work/data"
server=$(start_server "$work/site" "$work/port")
port=$(wait_port "$work/port") || { fail "update server did not start"; exit 1; }
base="http://127.0.0.1:$port"
printf 'UpdateServer=%s/\nLiveUpdates=0\nScheduledScan=0\nWebShield=0\n' "$base" >"$work/data/settings.ini"

# An installer of 70,000 bytes starting with "MZ".
{ printf 'MZ'; head -c 69998 /dev/zero | tr '\0' '\220'; } >"$work/site/files/setup.exe"
digest=$(sha256sum "$work/site/files/setup.exe" | cut -d' ' -f1)
release() {  # VERSION [SHA256]
  printf '{"android": {"version": "0.1", "url": "x"},\n "windows": {"version": "%s", "url": "%s/files/setup.exe"%s}}\n' \
    "$1" "$base" "${2:+, \"sha256\": \"$2\"}" >"$work/site/releases.json"
}

${run:+"$run"} "$bin/ZorvekService$exe" --console >"$work/console.txt" 2>&1 &
pid=$!
for _ in $(seq 200); do ctl status >/dev/null 2>&1 && break; sleep 0.1; done
ctl status >/dev/null 2>&1 || { fail "service did not answer: $(cat "$work/console.txt")"; exit 1; }

saved=$work/data/updates/ZorvekSetup-9.9.9.exe
release 9.9.9 "${digest^^}"
expect 0 "update self" -- ctl update self
contains "update self" "установщик скачан: $(native "$saved")"
cmp -s "$saved" "$work/site/files/setup.exe" || fail "the saved installer differs from the server's"
[ -e "$saved.tmp" ] && fail "a temporary file was left"
expect 0 "status after download" -- ctl status
contains "status after download" "установщик:   $(native "$saved")"
expect 0 "json status" -- ctl --json status
contains "json status" '"selfUpdateError":""'
contains "json status" "ZorvekSetup-9.9.9.exe"

# The service's own client mode reports the same.
expect 0 "update-check" -- ${run:+"$run"} "$bin/ZorvekService$exe" --update-check
contains "update-check" "установщик скачан: "

release "../../../evil"
expect 1 "hostile version" -- ctl update self
contains "hostile version" "обновление не удалось: недопустимая версия в releases.json: ../../../evil"
[ -n "$(find "$work" -name '*evil*' -print -quit)" ] && fail "a file named after the hostile version exists"
expect 0 "status after refusal" -- ctl status
lacks "status after refusal" "установщик:"

release 9.9.10 "$(printf '0%.0s' $(seq 64))"
expect 1 "wrong digest" -- ctl update self
contains "wrong digest" "контрольная сумма установщика не совпала"
[ -e "$work/data/updates/ZorvekSetup-9.9.10.exe" ] && fail "a mismatched installer was kept"
cmp -s "$saved" "$work/site/files/setup.exe" || fail "a refused download changed the earlier one"

release 1.2.0
expect 0 "same version" -- ctl update self
contains "same version" "обновлений нет — версия актуальна"
expect 0 "json update self" -- ctl --json update self
contains "json update self" '{"updateAvailable":false,"installerPath":""}'

ctl shutdown >/dev/null 2>&1 || kill -INT "$pid"
wait "$pid"
pid=
grep -q "\[INF\] self update: installer 9.9.9 saved to updates (sha256 checked)" "$work/data/zorvek.log" ||
  fail "no download line in the log"

[ "$failures" = 0 ] && echo "self-update e2e: all passed"
exit $((failures > 0))
