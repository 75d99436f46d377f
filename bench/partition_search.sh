#!/usr/bin/env bash
# Times `kavo-cli search --lost` over a 4 GiB sparse disk image read from the page cache and
# prints the rate in GB/s (10^9 bytes per second). The image holds an MBR with two FAT32 volumes
# made by sfdisk and mkfs.fat, so the walk meets boot sectors, FATs and folders as well as holes.
#
# Usage: bench/partition_search.sh PATH/TO/kavo-cli [WORK_DIR]
set -euo pipefail

cli=${1:?usage: $0 PATH/TO/kavo-cli [WORK_DIR]}
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
for tool in sfdisk mkfs.fat bc; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
if [ $# -ge 2 ]; then
  work=$2
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

image="$work/search-4g.img"
if [ ! -s "$image" ]; then
  truncate -s 4G "$image"
  printf 'label: dos\nstart=2048, size=1GiB, type=c\nsize=1GiB, type=c\n' | sfdisk -q "$image"
  for start in $(sfdisk -d "$image" | sed -n 's/.*start= *\([0-9]*\).*/\1/p'); do
    mkfs.fat -F 32 --offset="$start" "$image" $((1024 * 1024)) >/dev/null 2>&1
  done
fi
bytes=$(stat -c %s "$image")
cat "$image" >/dev/null  # into the page cache

best=0
for run in 1 2 3; do
  start=$(date +%s.%N)
  "$cli" search "$image" --lost >/dev/null
  end=$(date +%s.%N)
  rate=$(echo "$bytes / ($end - $start) / 1000000000" | bc -l)
  printf 'run %d: %6.3f s  %5.2f GB/s\n' "$run" "$(echo "$end - $start" | bc -l)" "$rate"
  if (( $(echo "$rate > $best" | bc -l) )); then best=$rate; fi
done
printf 'search --lost over %d bytes: best %.2f GB/s (target 2 GB/s)\n' "$bytes" "$best"
