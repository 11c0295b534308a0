#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for N seconds (default 20) from its seed corpus in
# fuzz/corpus/<target>; a crash input is kept in build/fuzz/crashes/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
failed=0
for bin in build/fuzz/fuzzers/*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  work=build/fuzz/corpus/$name
  crashes=build/fuzz/crashes/$name
  mkdir -p "$work" "$crashes"
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  printf '%-28s ' "$name"
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$crashes/" "$work" >"build/fuzz/$name.log" 2>&1; then
    echo "ok ($(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "build/fuzz/$name.log" | grep -o '[0-9]*$') runs)"
  else
    echo "FAILED (see build/fuzz/$name.log)"
    tail -n 30 "build/fuzz/$name.log"
    failed=1
  fi
done
exit $failed
