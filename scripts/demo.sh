#!/usr/bin/env bash
# The main job: builds the Windows service and zorvekctl, starts ZorvekService.exe under Wine in
# console mode with a fresh data folder and the shipped seed database, scans a generated demo
# folder through zorvekctl, quarantines a detection and stops the service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

cmake --preset win64 >/dev/null
cmake --build --preset win64 --target ZorvekService zorvekctl

run=build/win64/wine-run
bin=build/win64/bin
demo=$(mktemp -d /tmp/zorvek-demo.XXXXXX)
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
export ZORVEK_DATA_DIR=$(winpath "$demo/data")
export ZORVEK_PIPE='\\.\pipe\ZorvekDemo'
service_pid=
cleanup() {
  if [ -n "$service_pid" ] && kill -0 "$service_pid" 2>/dev/null; then kill "$service_pid" 2>/dev/null || true; fi
  rm -rf "$demo"
}
trap cleanup EXIT
ctl() { "$run" "$bin/zorvekctl.exe" "$@"; }

echo
echo "== demo folder $demo/files"
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

echo
echo "== ZorvekService.exe --console under Wine"
"$run" "$bin/ZorvekService.exe" --console >"$demo/service.txt" 2>&1 &
service_pid=$!
for _ in $(seq 60); do
  if ctl status >"$demo/status.txt" 2>/dev/null; then break; fi
  kill -0 "$service_pid" 2>/dev/null || { cat "$demo/service.txt"; exit 1; }
  sleep 0.5
done
cat "$demo/service.txt"
cat "$demo/status.txt"

echo
echo "== zorvekctl scan --wait"
ctl scan --wait "$(winpath "$demo/files")"

echo
echo "== zorvekctl detections"
ctl detections

echo
echo "== zorvekctl decide eicar.com quarantine"
ctl decide "$(winpath "$demo/files/eicar.com")" quarantine && echo "помещён в карантин"
[ -e "$demo/files/eicar.com" ] && echo "(файл остался на месте!)" || echo "(файла больше нет в папке)"

echo
echo "== zorvekctl quarantine list"
ctl quarantine list

echo
echo "== stopping the service"
if ctl shutdown; then
  wait "$service_pid" && echo "служба остановлена" || echo "служба завершилась с кодом $?"
else
  kill -INT "$service_pid"; wait "$service_pid" || true
fi
service_pid=
echo
echo "== the service's log"
cat "$demo/data/zorvek.log"
