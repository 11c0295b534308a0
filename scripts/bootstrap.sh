#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need. Idempotent: a fast no-op when
# everything is present.
set -euo pipefail

packages=(cmake g++ make clang libfuzzer-14-dev libclang-rt-14-dev libgtest-dev
          g++-mingw-w64-x86-64 wine64 xvfb xauth fonts-dejavu-core libcurl4-openssl-dev openssl python3)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

