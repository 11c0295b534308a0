#!/usr/bin/env bash
# A hostile local user against the real ZorvekService --console running as root: every attack
# goes through zorvekctl as an unprivileged user (setpriv, uid 65534) and must end in a clear
# refusal with its targets untouched. Needs root and setpriv; exits 77 (skipped) otherwise.
# Usage: attacks_e2e.sh BIN_DIR
set -uo pipefail
if [ "$(id -u)" != 0 ] || ! command -v setpriv >/dev/null; then
  echo "skipped: needs root and setpriv"
  exit 77
fi
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh" "$1"
nobody=65534
as_other="setpriv --reuid=$nobody --regid=$nobody --clear-groups"
lacks() { grep -qF -- "$2" <<<"$out" && fail "$1: '$2' revealed in: $out"; }
same() { [ "$(cat "$1")" = "$2" ] || fail "$3: $1 now holds '$(cat "$1" 2>/dev/null)'"; }
mode() { [ "$(stat -c %a "$1" 2>/dev/null)" = "$2" ] || fail "$1 is $(stat -c %a "$1" 2>/dev/null), want $2"; }
eicar() { printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$1"; }
quarantine_id() { # the id of the record whose origin is $1
  "$ctl" --json quarantine list | tr '{' '\n' | grep -F "\"originPath\":\"$1\"" |
    sed -n 's/.*"id":\([0-9]*\).*/\1/p' | head -1
}

start_service || exit 1

# A folder only root may read, with a threat and a name in it.
mkdir -m 700 "$work/secret"
eicar "$work/secret/eicar.com"
eicar "$work/secret/payroll-2026.exe"
# A root file in a folder others may read but not write.
mkdir -m 755 "$work/system"
eicar "$work/system/victim.com"
# Folders of the user.
mkdir "$work/home" "$work/race" "$work/mine"
eicar "$work/home/eicar.com"
eicar "$work/race/victim.com"
eicar "$work/mine/eicar.com"
chown -R "$nobody:$nobody" "$work/home" "$work/race" "$work/mine"

# 3. A scan asked for by the user reads only what the user could read itself.
expect 0 "scan of a closed folder" -- $as_other "$ctl" scan --wait "$work/secret" "$work/system/victim.com"
expect 0 "detections after it" -- $as_other "$ctl" --json detections
lacks "detections after it" "secret"
lacks "detections after it" "payroll"
contains "detections after it" "$work/system/victim.com"  # readable by all: found
grep -q "scan skipped 1 folders that could not be opened" "$work/data/zorvek.log" ||
  fail "the closed folder was not reported as skipped"
# The same scan by root finds what is inside.
expect 0 "root scan" -- "$ctl" scan --wait "$work/secret"
expect 0 "root detections" -- "$ctl" --json detections
contains "root detections" "$work/secret/eicar.com"

# 3. A decision from the user acts only on files the user could delete itself.
expect 1 "user deletes root's file" -- $as_other "$ctl" decide "$work/secret/eicar.com" delete
contains "user deletes root's file" "access denied"
[ -f "$work/secret/eicar.com" ] || fail "root's file was deleted for the user"
expect 0 "root scan of system" -- "$ctl" scan --wait "$work/system"
expect 1 "user quarantines a system file" -- $as_other "$ctl" decide "$work/system/victim.com" quarantine
contains "user quarantines a system file" "access denied"
[ -f "$work/system/victim.com" ] || fail "the system file was moved for the user"
# Its own file, which the threat dialog needs.
expect 0 "user scans its own folder" -- $as_other "$ctl" scan --wait "$work/mine"
expect 0 "user quarantines its own file" -- $as_other "$ctl" decide "$work/mine/eicar.com" quarantine
[ -f "$work/mine/eicar.com" ] && fail "the user's own file was not quarantined"

# 1. Restore and delete of quarantine entries are an administrator's.
id=$(quarantine_id "$work/mine/eicar.com")
[ -n "$id" ] || fail "no record for the user's file"
expect 1 "user restores" -- $as_other "$ctl" quarantine restore "$id"
contains "user restores" "access denied"
expect 1 "user deletes an entry" -- $as_other "$ctl" quarantine delete "$id"
contains "user deletes an entry" "access denied"
[ -n "$(quarantine_id "$work/mine/eicar.com")" ] || fail "the entry went away for the user"

# 1. The user's folder becomes a link to a system folder; the administrator's restore must not
# follow it.
expect 0 "user scans home" -- $as_other "$ctl" scan --wait "$work/home"
expect 0 "user quarantines home file" -- $as_other "$ctl" decide "$work/home/eicar.com" quarantine
id=$(quarantine_id "$work/home/eicar.com")
printf 'system file' >"$work/system/eicar.com"
chmod 777 "$work"  # the user may now rename in the parent, as in its own home
$as_other rm -rf "$work/home"
$as_other ln -s "$work/system" "$work/home"
chmod 755 "$work"
expect 1 "restore through a link" -- "$ctl" quarantine restore "$id"
contains "restore through a link" "restore refused: the path contains a link"
same "$work/system/eicar.com" "system file" "restore through a link"
[ -n "$(quarantine_id "$work/home/eicar.com")" ] || fail "the refused restore lost its entry"

# 2. Between the detection and the decision the user swaps its folder for a link to a folder
# holding a root file of the same size and digest.
expect 0 "user scans race" -- $as_other "$ctl" scan --wait "$work/race"
chmod 777 "$work"
$as_other mv "$work/race" "$work/race.old"
$as_other ln -s "$work/system" "$work/race"
chmod 755 "$work"
for who in user root; do
  runner=; [ "$who" = user ] && runner=$as_other
  expect 1 "$who decides through a link" -- $runner "$ctl" decide "$work/race/victim.com" delete
  contains "$who decides through a link" "decision refused: the path contains a link"
  [ -f "$work/system/victim.com" ] || fail "$who: the root file behind the link was deleted"
done

# 4. The service's own files are owner-only.
mode "$work/data" 700
mode "$work/data/settings.ini" 600
mode "$work/data/zorvek.log" 600
mode "$work/data/scan.cache" 600
mode "$work/data/Quarantine" 700
mode "$work/data/Quarantine/quarantine.db" 600
expect 1 "user reads the scan cache" -- $as_other cat "$work/data/scan.cache"

# 5. Any user may ask for an update, but where it comes from is the administrator's and what it
# writes stays in the service's own folder.
expect 2 "user sets the update server" -- $as_other "$ctl" config set UpdateServer=http://127.0.0.1:9/
expect 1 "user asks for a self-update" -- $as_other "$ctl" update self
contains "user asks for a self-update" "не задан сервер обновлений"
[ ! -e "$work/data/updates" ] || mode "$work/data/updates" 700

kill -INT "$pid"
wait "$pid"
pid=
[ "$failures" = 0 ] && echo "attacks e2e: all refused"
exit $((failures > 0))
