#!/usr/bin/env bash
# The main job: builds the distributable installer and zorvekctl, installs the suite silently into
# a Wine prefix of its own as a user would, scans a generated demo folder through the installed
# service, quarantines a detection, shows real-time protection catching a file dropped into a
# user's folder, and uninstalls the suite again. The prefix is removed at the
# end.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$(date +%s)
bash scripts/bootstrap.sh

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target dist zorvekctl

run=$(pwd)/build/win64/wine-run
bin=build/win64/bin
demo=$(mktemp -d /tmp/zorvek-demo.XXXXXX)
source scripts/wine-fresh.sh
unset ZORVEK_DATA_DIR ZORVEK_PIPE ZORVEK_HOSTS
trap 'wine_fresh_cleanup; rm -rf "$demo"' EXIT
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
ctl() { "$run" "$bin/zorvekctl.exe" "$@"; }
step() { printf '\n== %s\n' "$*"; }

step "a fresh Windows (Wine prefix) in $demo/prefix"
wine_fresh_prefix "$demo" "$run"
program_files="$WINEPREFIX/drive_c/Program Files/ZORVEK Antivirus"
data="$WINEPREFIX/drive_c/ProgramData/ZORVEK Antivirus"

step "demo folder $demo/files"
mkdir -p "$demo/files/docs"
printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$demo/files/eicar.com"
# A crafted executable: a UPX-named section that is writable and executable, and no imports.
python3 - "$demo/files/setup_crack.exe" <<'PY'
import struct, sys
b = bytearray(2048)
b[0:2] = b"MZ"; struct.pack_into("<I", b, 0x3C, 0x80)
b[0x80:0x84] = b"PE\0\0"
struct.pack_into("<HHIIIHH", b, 0x84, 0x14C, 1, 0x5F000000, 0, 0, 224, 0x0102)
struct.pack_into("<H", b, 0x98, 0x10B); struct.pack_into("<I", b, 0x98 + 92, 16)
sec = 0x98 + 224
b[sec:sec + 4] = b"UPX0"
struct.pack_into("<IIII", b, sec + 8, 1024, 0x1000, 1024, 1024)
struct.pack_into("<I", b, sec + 36, 0xE0000020)
open(sys.argv[1], "wb").write(bytes(b))
PY
echo "Отчёт за квартал" >"$demo/files/docs/report.txt"
printf 'name,amount\nalpha,1\nbeta,2\n' >"$demo/files/docs/table.csv"
printf '@echo off\necho hello\n' >"$demo/files/hello.bat"
ls -l "$demo/files" "$demo/files/docs"

step "ZorvekSetup.exe /silent (the distributable installer)"
"$run" build/win64/dist/ZorvekSetup.exe /silent
ls -l "$program_files"
"$run" sc query ZorvekService | grep -E 'SERVICE_NAME|STATE'

step "zorvekctl status"
ctl status

step "zorvekctl scan --wait"
ctl scan --wait "$(winpath "$demo/files")" || true

step "zorvekctl detections"
ctl detections

step "zorvekctl decide eicar.com quarantine"
ctl decide "$(winpath "$demo/files/eicar.com")" quarantine && echo "помещён в карантин"
[ -e "$demo/files/eicar.com" ] && echo "(файл остался на месте!)" || echo "(файла больше нет в папке)"

step "zorvekctl quarantine list"
ctl quarantine list

# The installed service watches the system's folders, C:\Users among them. Wine's watch of a tree
# reports only folders made after the watch began (Windows reports them all), so the file arrives
# in a folder made now.
incoming="$WINEPREFIX/drive_c/users/Incoming"
step "real-time protection: a file arrives in C:\\Users\\Incoming, no scan started"
mkdir -p "$incoming"
sleep 1  # a folder made just now is watched once the watcher has seen it appear
printf '%s' 'X5O!P%@AP[4\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*' >"$incoming/invoice.com"
ctl watch --count 1 --seconds 30
ctl decide 'C:\Users\Incoming\invoice.com' quarantine && echo "помещён в карантин"
[ -e "$incoming/invoice.com" ] && echo "(файл остался на месте!)" || echo "(файла больше нет в папке)"
ctl quarantine list

step "ZorvekSetup.exe /uninstall /silent (from the install folder, as the uninstall entry runs it)"
"$run" "$program_files/ZorvekSetup.exe" /uninstall /silent
for _ in $(seq 50); do [ -e "$program_files" ] || break; sleep 0.2; done
[ -e "$program_files" ] && echo "(каталог программы ещё на месте!)" || echo "(каталога программы больше нет)"
"$run" sc query ZorvekService >/dev/null 2>&1 && echo "(служба ещё зарегистрирована!)" || echo "(службы больше нет)"
echo "данные остались для следующей установки:"
ls "$data"

step "the service's log"
cat "$data/zorvek.log"
step "demo finished in $(( $(date +%s) - started )) s"
