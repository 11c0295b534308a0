#!/usr/bin/env bash
# Runs the hash benchmark natively and, when a win64 build exists, under Wine, both against one
# OpenSSL measurement taken here (openssl is a Linux program; the Windows build cannot run it).
# Usage: bench/hash_bench.sh [seconds]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-2}"

speed() {  # $1 alg, prints bytes per second
  openssl speed -mr -evp "$1" -bytes 16384 -seconds "$seconds" 2>/dev/null |
    awk -F: '/^\+F:/ {print $NF}'
}
figures() {
  local out="" a
  for a in md5 sha1 sha256; do out+="${out:+,}$a=$(speed "$a")"; done
  echo "$out"
}
ref="$(figures)"
ref_portable="$(OPENSSL_ia32cap=':~0x20000000' figures)"
echo "OpenSSL: $ref"
echo "OpenSSL, SHA extensions masked: $ref_portable"

if [ -x "$root/build/linux/bin/hash_bench" ]; then
  echo "== native"
  "$root/build/linux/bin/hash_bench" --seconds "$seconds" --ref "$ref" --ref-portable "$ref_portable"
fi
if [ -x "$root/build/win64/bin/hash_bench.exe" ] && [ -x "$root/build/win64/wine-run" ]; then
  echo "== Windows build under Wine"
  "$root/build/win64/wine-run" "$root/build/win64/bin/hash_bench.exe" --seconds "$seconds" \
    --ref "$ref" --ref-portable "$ref_portable"
fi
