#!/usr/bin/env bash
# Times `kavo-cli list --json` against The Sleuth Kit's `fls -r -p` on FAT32 volumes made with
# mkfs.fat and mtools: 100 000 files in 1 000 folders, and one folder of 50 000 entries (to show
# that a large folder costs no more per entry than many small ones).
#
# Usage: bench/fat_list.sh PATH/TO/kavo-cli [WORK_DIR]
# The images are built once in WORK_DIR (default: a temporary folder) and kept there when given.
set -euo pipefail

cli=${1:?usage: $0 PATH/TO/kavo-cli [WORK_DIR]}
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
for tool in mkfs.fat mcopy fls; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
if [ $# -ge 2 ]; then
  work=$2
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
export MTOOLS_SKIP_CHECK=1

# Seconds taken by a command, its output discarded.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}

# build IMAGE SIZE TREE_SCRIPT: a FAT32 image holding the tree that TREE_SCRIPT makes in ./tree.
build() {
  local image=$1 size=$2 make_tree=$3
  [ -s "$image" ] && return
  local tree="$work/tree.$$"
  rm -rf "$tree"
  mkdir -p "$tree"
  (cd "$tree" && eval "$make_tree")
  truncate -s "$size" "$image.part"
  mkfs.fat -F 32 -s 8 "$image.part" >/dev/null
  (cd "$tree" && mcopy -s -Q -i "$image.part" ./* ::/)
  rm -rf "$tree"
  mv "$image.part" "$image"
}

# 1 000 folders of 100 files with long names, 1 to 2 000 bytes each.
wide='for d in $(seq -w 0 999); do
  mkdir "folder $d"
  for f in $(seq -w 0 99); do head -c $(( (10#$d * 100 + 10#$f) % 2000 + 1 )) /dev/zero > "folder $d/file $f.dat"; done
done'
# One folder of 50 000 files with 8.3 names (one entry each: a folder holds at most 65 536).
deep='mkdir BIG
for f in $(seq -w 0 49999); do : > "BIG/F$f.TXT"; done'

run() {
  local label=$1 image=$2 entries=$3
  "$cli" list "$image" --json >/dev/null  # warm the page cache for both
  local kavo fls_time
  kavo=$(seconds "$cli" list "$image" --json)
  fls_time=$(seconds fls -r -p "$image")
  printf '%-34s kavo-cli %7.3f s   fls %7.3f s   fls/kavo %6.1fx   kavo %6.2f us/entry\n' \
    "$label" "$kavo" "$fls_time" "$(echo "$fls_time / $kavo" | bc -l)" \
    "$(echo "$kavo * 1000000 / $entries" | bc -l)"
}

build "$work/wide.img" 2G "$wide"
build "$work/deep.img" 512M "$deep"
run "100 000 files in 1 000 folders" "$work/wide.img" 101000
run "one folder of 50 000 files" "$work/deep.img" 50001
