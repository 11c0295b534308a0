#!/usr/bin/env bash
# ZorvekService.exe as a real service under Wine's service control manager: created and started
# with sc, answers --ping, reports Wine's own firewall through --fw and zorvekctl, and reaches
# STOPPED within a few seconds of sc stop.
# Usage: wine_service.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
run=$build/wine-run
exe="Z:${build//\//\\}\\bin\\ZorvekService.exe"
log="$build/wineprefix/drive_c/ProgramData/ZORVEK Antivirus/zorvek.log"
unset ZORVEK_PIPE ZORVEK_DATA_DIR
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
state() { "$run" sc query ZorvekService 2>/dev/null | sed -n 's/.*STATE *: *[0-9]* *//p' | tr -d '\r '; }

"$run" sc delete ZorvekService >/dev/null 2>&1
before=$(wc -l <"$log" 2>/dev/null || echo 0)
"$run" sc create ZorvekService binPath= "$exe" >/dev/null 2>&1 || fail "sc create"
"$run" sc start ZorvekService >/dev/null 2>&1 || fail "sc start"
for _ in $(seq 50); do [ "$(state)" = RUNNING ] && break; sleep 0.1; done
[ "$(state)" = RUNNING ] || fail "not RUNNING: $(state)"

out=$("$run" "$build/bin/ZorvekService.exe" --ping 2>&1)
code=$?
[ "$code" = 0 ] || fail "--ping exit $code: $out"
for line in "служба отвечает" "  версия:      1.2.0" "  защита:      вкл" "  minifilter:  нет"; do
  grep -qF -- "$line" <<<"$out" || fail "--ping lacks '$line': $out"
done

# The firewall status through Wine's own firewall objects, which answer E_NOTIMPL: every part
# that cannot be read becomes an "error," line, and the service stays up.
out=$("$run" "$build/bin/ZorvekService.exe" --fw 2>&1)
code=$?
[ "$code" = 0 ] || fail "--fw exit $code: $out"
for line in "error,не удалось прочитать профиль domain: код 0x80004001" \
            "error,не удалось перечислить правила: код 0x80004001" "blockin,off"; do
  grep -qF -- "$line" <<<"$out" || fail "--fw lacks '$line': $out"
done
# zorvekctl's changes reach the same objects (Wine's user counts as an administrator).
ctl() {
  out=$("$run" "$build/bin/zorvekctl.exe" "$@" 2>&1)
  code=$?
}
ctl firewall status
[ "$code" = 0 ] || fail "zorvekctl firewall status exit $code: $out"
grep -qF "ошибка: не удалось прочитать профиль public: код 0x80004001" <<<"$out" ||
  fail "zorvekctl firewall status: $out"
ctl firewall profile private on
[ "$code" = 1 ] || fail "zorvekctl firewall profile exit $code: $out"
grep -qF "zorvekctl: не удалось изменить состояние профиля: код 0x80004001" <<<"$out" ||
  fail "zorvekctl firewall profile: $out"
ctl firewall remove
[ "$code" = 1 ] || fail "zorvekctl firewall remove exit $code: $out"
grep -qF "zorvekctl: не удалось перечислить правила: код 0x80004001" <<<"$out" ||
  fail "zorvekctl firewall remove: $out"
out=$("$run" "$build/bin/ZorvekService.exe" --ping 2>&1) || fail "no answer after --fw: $out"

t0=$(date +%s%N)
"$run" sc stop ZorvekService >/dev/null 2>&1 || fail "sc stop"
for _ in $(seq 50); do [ "$(state)" = STOPPED ] && break; sleep 0.1; done
t1=$(date +%s%N)
[ "$(state)" = STOPPED ] || fail "not STOPPED after sc stop: $(state)"
echo "sc stop to STOPPED: $(((t1 - t0) / 1000000)) ms"
"$run" sc delete ZorvekService >/dev/null 2>&1

new=$(tail -n +"$((before + 1))" "$log")
for line in "ZORVEK Antivirus: initialising" "ZORVEK Antivirus: running" \
            "ZORVEK Antivirus: stop requested" "workers stopped"; do
  grep -qF -- "$line" <<<"$new" || fail "log lacks '$line'"
done
[ "$failures" = 0 ] && echo "wine service mode: all passed"
exit $((failures > 0))
