#!/usr/bin/env bash
# Scans the same 1 GiB picture image with kavo's raw scan and with photorec (BMP, JPG and PNG
# only), both from the page cache, and prints both rates and their ratio.
#
#   bench/photorec_compare.sh [WORKDIR]
#
# WORKDIR (default /tmp/kavo-bench) receives the image, the bench program and photorec's output.
# KAVO_BENCH_MIB sets the image size in MiB (default 1024).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/kavo-bench}
mib=${KAVO_BENCH_MIB:-1024}
build=$work/build
image=$work/bench.img

for tool in convert photorec cmake ninja g++; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
mkdir -p "$work"

cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVO_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" kavo_scanners >/dev/null
libs=$build/src
g++ -O2 -std=c++20 -I"$repo/src" "$repo/bench/raw_scan_bench.cpp" \
  "$libs/libkavo_scanners.a" "$libs/libkavo_recovery.a" "$libs/libkavo_disk.a" \
  "$libs/libkavo_base.a" "$libs/libkavo_platform.a" -o "$work/raw_scan_bench"

if [ ! -f "$image" ] || [ "$(stat -c %s "$image")" -ne $((mib * 1048576)) ]; then
  "$work/raw_scan_bench" make "$image" "$mib"
fi
cat "$image" >/dev/null  # into the page cache

kavo_line=$("$work/raw_scan_bench" scan "$image" 3 | tee /dev/stderr | head -n 1)
kavo_rate=$(awk '{print $2}' <<<"$kavo_line")

rm -rf "$work/photorec"
mkdir -p "$work/photorec"
start=$(date +%s.%N)
(cd "$work/photorec" &&
  photorec /log /d "$work/photorec/out" /cmd "$image" \
    fileopt,everything,disable,jpg,enable,png,enable,bmp,enable,search </dev/null >/dev/null 2>&1)
end=$(date +%s.%N)
photorec_files=$(find "$work/photorec" -path '*/out.*' -type f ! -name report.xml | wc -l)
bytes=$(stat -c %s "$image")
photorec_rate=$(awk -v b="$bytes" -v s="$start" -v e="$end" 'BEGIN {printf "%.2f", b / (e - s) / 1e9}')
echo "photorec: $photorec_rate GB/s, $photorec_files files"
awk -v k="$kavo_rate" -v p="$photorec_rate" 'BEGIN {printf "ratio kavo/photorec: %.1fx\n", k / p}'
