#!/usr/bin/env bash
# zscan's scan speed against ClamAV's clamscan in its fastest hash-only configuration, on one
# seeded corpus (about 3000 files of scanned types, 1 KiB - 8 MiB, ~600 MB) and one database of
# 4,000,000 random SHA-256 digests plus digests of some corpus files. Both run single-threaded
# on the warm corpus; database load time is measured apart (a run over an empty folder) and
# left out of the scan figures. Also prints zscan's MB/s as a fraction of the single-pass
# MD5+SHA-1+SHA-256 limit over the same files.
# Usage: bench/zscan_bench.sh [work-dir]   (needs build/linux; installs clamav when missing)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${1:-/tmp/zorvek-zscan-bench}"
bin="$root/build/linux/bin"
[ -x "$bin/zscan" ] && [ -x "$bin/zscan_corpus" ] ||
  { echo "build first: cmake --preset linux && cmake --build --preset linux" >&2; exit 2; }

# clamscan is the reference of this benchmark only, so it is installed here.
if ! command -v clamscan >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q clamav >/dev/null
fi

if [ ! -f "$work/clam.hsb" ]; then
  rm -rf "$work"
  mkdir -p "$work"
  "$bin/zscan_corpus" make "$work"
fi
corpus="$work/corpus"
empty="$work/empty"
mkdir -p "$empty"
files=$(find "$corpus" -type f | wc -l)
bytes=$(du -sb --apparent-size "$corpus" | cut -f1)
find "$corpus" -type f -exec cat {} + >/dev/null  # warm the page cache

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) (2 cores, shared)"

# zscan prints its own load and scan times in the summary line.
zs=$(ZORVEK_DATA_DIR="$work/data" "$bin/zscan" --quiet --db "$work/zorvek.db" "$corpus" || true)
echo "zscan: $zs"
zs_files=$(echo "$zs" | sed -n 's/.*файлов \([0-9]*\),.*/\1/p')
zs_scan=$(echo "$zs" | sed -n 's/.*время \([0-9.]*\) с.*/\1/p')
zs_load=$(echo "$zs" | sed -n 's/.*загрузка баз \([0-9.]*\) с.*/\1/p')
zs_bytes=$(echo "$zs" | sed -n 's/.*байт \([0-9]*\),.*/\1/p')

clam_opts=(--scan-pe=no --scan-elf=no --scan-ole2=no --scan-pdf=no --scan-swf=no --scan-html=no
  --scan-xmldocs=no --scan-hwp3=no --scan-onenote=no --scan-archive=no --scan-image=no
  --scan-image-fuzzy-hash=no --scan-mail=no --phishing-sigs=no --phishing-scan-urls=no
  --heuristic-alerts=no --normalize=no --bytecode=no --disable-cache)
clam() { clamscan --no-summary --infected -r -d "$work/clam.hsb" "${clam_opts[@]}" "$@" >/dev/null 2>&1 || true; }
t0=$(now); clam "$empty"; t1=$(now)
cl_load=$(elapsed "$t0" "$t1")
t0=$(now); clam "$corpus"; t1=$(now)
cl_total=$(elapsed "$t0" "$t1")
cl_scan=$(awk -v a="$cl_load" -v b="$cl_total" 'BEGIN { printf "%.3f", b - a }')
cl_found=$(clamscan --no-summary --infected -r -d "$work/clam.hsb" "${clam_opts[@]}" "$corpus" 2>/dev/null | grep -c FOUND || true)

limit=$("$bin/zscan_corpus" limit "$work" | sed -n 's/.*limit: \([0-9.]*\) MB\/s.*/\1/p')

awk -v f="$files" -v b="$bytes" -v zf="$zs_files" -v zb="$zs_bytes" -v zs="$zs_scan" -v zl="$zs_load" \
    -v cs="$cl_scan" -v cl="$cl_load" -v cf="$cl_found" -v lim="$limit" 'BEGIN {
  printf "corpus: %d files, %.1f MB (zscan scanned %d files, %.1f MB; clamscan found %d)\n", f, b/1e6, zf, zb/1e6, cf
  printf "%-9s %10s %10s %10s %10s\n", "", "load s", "scan s", "files/s", "MB/s"
  printf "%-9s %10.2f %10.2f %10.0f %10.1f\n", "zscan", zl, zs, zf/zs, zb/1e6/zs
  printf "%-9s %10.2f %10.2f %10.0f %10.1f\n", "clamscan", cl, cs, f/cs, b/1e6/cs
  printf "ratio zscan/clamscan: files/s %.2f, MB/s %.2f\n", (zf/zs)/(f/cs), (zb/1e6/zs)/(b/1e6/cs)
  printf "single-pass triple-digest limit: %.1f MB/s; zscan at %.0f%% of it\n", lim, 100*(zb/1e6/zs)/lim
}'
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
