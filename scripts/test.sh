#!/usr/bin/env bash
# Runs every test: the native suites under ASan+UBSan and under TSan, the Windows build's suites
# under Wine, and each fuzz target for a short time. Fails when anything fails.
#   FUZZ_SECONDS=N   time per fuzz target (default 10; each target has had long runs of its own)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

step() { printf '\n=== %s\n' "$*"; }
started=$(date +%s)

step "native build and tests (ASan + UBSan)"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset linux-asan

step "native tests under TSan"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan
TSAN_OPTIONS=halt_on_error=1 ctest --preset linux-tsan

step "Windows build (mingw-w64) and its tests under Wine"
cmake --preset win64 >/dev/null
cmake --build --preset win64
echo "each Windows test binary runs under $(/usr/lib/wine/wine64 --version 2>/dev/null || wine --version) (build/win64/wine-run)"
ctest --preset win64

step "fuzz targets"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
bash scripts/fuzz.sh "${FUZZ_SECONDS:-10}"

step "all tests passed in $(( $(date +%s) - started )) s"
