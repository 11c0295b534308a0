#!/usr/bin/env bash
# The live update end to end: the reference update server on 127.0.0.1 serves a digest only it
# knows; the service fetches it on `zorvekctl update live`, the next scan finds the file, a
# failing server shows in the status, and a restarted service still finds the file from its live
# database, also when the server's certificate is refused. The web shield of the same service
# writes the server's block list into a scratch hosts file about 30 s after the start and takes it
# out again when switched off, keeping the user's lines. Natively, or under Wine with the build
# tree's wine-run.
# Usage: live_update_e2e.sh BIN_DIR [WINE_RUN]
set -uo pipefail
source "$(dirname "$0")/e2e_lib.sh" "$1" "${2:-}" LiveE2E
pid= server=
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null
  [ -n "${tls:-}" ] && kill "$tls" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_service() {
  ${run:+"$run"} "$bin/ZorvekService$exe" --console >"$work/console.txt" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    ctl status >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  fail "service did not answer: $(cat "$work/console.txt")"
  return 1
}
stop_service() {
  ctl shutdown >/dev/null 2>&1 || kill -INT "$pid"
  wait "$pid"
  pid=
}
settings() {
  mkdir -p "$work/data"
  # LiveUpdates=0: only the requests below fetch, never the timer.
  printf 'UpdateServer=%s\nLiveUpdates=0\n' "$1" >"$work/data/settings.ini"
}
wait_update() {
  for _ in $(seq 300); do
    out=$(ctl --json status 2>&1)
    grep -qF '"liveUpdateRunning":false' <<<"$out" && return 0
    sleep 0.1
  done
  fail "the live update did not finish: $out"
}

# A file that no shipped signature knows, and a feed that names it.
mkdir -p "$work/site" "$work/files"
printf 'a sample only the update server knows, %s\n' "$$" >"$work/files/sample.exe"
digest=$(sha256sum "$work/files/sample.exe" | cut -d' ' -f1)
{
  echo "# feed of the e2e test"
  echo "  ${digest^^} Win.Test.LiveOnly"
  echo "not a digest"
  sha256sum /dev/null | cut -d' ' -f1
} >"$work/site/signatures.txt"
sample=$(native "$work/files/sample.exe")
printf 'Evil.Example\r\n# comment\n192.0.2.1\nwww.phish.example\nevil.example\n' >"$work/site/blocklist.txt"
printf '127.0.0.1 localhost\r\n# mine\r\n\r\n' >"$work/hosts"

server=$(start_server "$work/site" "$work/port")
port=$(wait_port "$work/port") || { fail "update server did not start"; exit 1; }
settings "http://127.0.0.1:$port//"
start_service || exit 1

expect 0 "scan before" -- ctl scan --wait "$sample"
expect 0 "detections before" -- ctl --json detections
lacks "detections before" "sample.exe"

expect 0 "update live" -- ctl update live
wait_update
contains "status after update" '"liveUpdateError":""'
grep -q '"lastLiveUpdateUtc":0,' <<<"$out" && fail "LastLiveUpdateUtc not recorded: $out"
head -n 2 "$work/data/signatures.live.txt" | tr -d '\r' >"$work/head.txt"
[ "$(cat "$work/head.txt")" = "$(printf '%s\n%s' '# ZORVEK live signature database (auto-updated, do not edit)' 'ZORVEKDB/1')" ] ||
  fail "live database header: $(cat "$work/head.txt")"
grep -qx "SIZE 2" "$work/data/signatures.live.txt" || fail "live database SIZE"
expect 0 "scan after" -- ctl scan --wait "$sample"
expect 0 "detections after" -- ctl --json detections
contains "detections after" "sample.exe"
contains "detections after" "Win.Trojan.Generic"

# The web shield's first pass, about 30 s after the start.
# The user's lines byte for byte, but for CR LF turned into LF.
printf '%s\n' '127.0.0.1 localhost' '# mine' '' '# ZORVEK WEB SHIELD BEGIN' \
  '127.0.0.1 evil.example # zorvek-blocked' '127.0.0.1 www.evil.example # zorvek-blocked' \
  '127.0.0.1 www.phish.example # zorvek-blocked' '# ZORVEK WEB SHIELD END' >"$work/hosts.blocked"
printf '%s\n' '127.0.0.1 localhost' '# mine' '' >"$work/hosts.clean"
for _ in $(seq 600); do grep -q "WEB SHIELD END" "$work/hosts" && break; sleep 0.1; done
cmp -s "$work/hosts" "$work/hosts.blocked" || fail "hosts after the web shield's pass: $(cat -A "$work/hosts")"
expect 0 "status with the block" -- ctl --json status
contains "status with the block" '"webShieldEntries":3'
expect 0 "web shield off" -- ctl config set WebShield=0
for _ in $(seq 100); do grep -q "WEB SHIELD" "$work/hosts" || break; sleep 0.1; done
cmp -s "$work/hosts" "$work/hosts.clean" ||
  fail "hosts after the web shield was switched off: $(cat -A "$work/hosts")"

# The server goes away: the error shows in the status, the database stays.
kill -KILL "$server"
for _ in $(seq 100); do kill -0 "$server" 2>/dev/null || break; sleep 0.02; done
server=
expect 0 "update live, server gone" -- ctl update live
wait_update
grep -qF '"liveUpdateError":""' <<<"$out" && fail "no error for a server that is gone: $out"
contains "status after failure" '"liveUpdateError":"'
grep -qx "SIZE 2" "$work/data/signatures.live.txt" || fail "a failed update changed the live database"
stop_service

# The next start loads the live database; over HTTPS a certificate nobody vouches for is refused.
if openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" \
     -days 2 -subj /CN=127.0.0.1 -batch >/dev/null 2>&1; then
  tls=$(start_server "$work/site" "$work/tlsport" --tls "$work/cert.pem" "$work/key.pem")
  tlsport=$(wait_port "$work/tlsport") || fail "TLS update server did not start"
  settings "https://127.0.0.1:$tlsport"
else
  echo "note: no openssl, the certificate refusal is not exercised"
  settings "http://127.0.0.1:1"
fi
start_service || exit 1
expect 0 "scan after restart" -- ctl scan --wait "$sample"
expect 0 "detections after restart" -- ctl --json detections
contains "detections after restart" "sample.exe"
expect 0 "update live, untrusted certificate" -- ctl update live
wait_update
grep -qF '"liveUpdateError":""' <<<"$out" && fail "an untrusted certificate was accepted: $out"
grep -qx "SIZE 2" "$work/data/signatures.live.txt" || fail "a refused update changed the live database"
stop_service
grep -q "\[INF\] live signatures updated: 2 hashes" "$work/data/zorvek.log" || fail "no update line in the log"
grep -q "\[INF\] web shield: blocked 2 domains (3 hosts entries)" "$work/data/zorvek.log" ||
  fail "no web shield line in the log"

[ "$failures" = 0 ] && echo "live update e2e: all passed"
exit $((failures > 0))
