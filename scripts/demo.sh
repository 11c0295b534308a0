#!/usr/bin/env bash
# The main job: builds the native and the Windows programs and shows the shipped seed signature
# database with sigutil, natively and as sigutil.exe under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

cmake --preset linux >/dev/null
cmake --build --preset linux
cmake --preset win64 >/dev/null
cmake --build --preset win64

seed=data/signatures.seed.txt
echo
echo "== native sigutil"
build/linux/bin/sigutil stats "$seed"
build/linux/bin/sigutil verify "$seed"
build/linux/bin/sigutil lookup "$seed" sha256 275a021bbfb6489e54d471899f7db9d1663fc695ec2fe2a2c4538aabf651fd0f
echo
echo "== sigutil.exe under Wine"
build/win64/wine-run build/win64/bin/sigutil.exe stats "$seed"
build/win64/wine-run build/win64/bin/sigutil.exe verify "$seed"
build/win64/wine-run build/win64/bin/sigutil.exe lookup "$seed" md5 44D88612FEA8A8F36DE82E1278ABB02F
