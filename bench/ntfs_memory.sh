#!/usr/bin/env bash
# Lists an NTFS volume of FILES file records (default 10 000 000, over 1000 folders) with the
# listing's own walk and prints its time and its peak resident memory, whole and per entry.
#
#   bench/ntfs_memory.sh BUILD_DIR [FILES]
#
# BUILD_DIR holds bench/make_big_mft and bench/ntfs_list_bench. The image (about 1 KiB a file)
# goes to WORKDIR (default /tmp) and is removed afterwards.
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [FILES]}
files=${2:-10000000}
image=${WORKDIR:-/tmp}/kavo-big-mft.img
trap 'rm -f "$image"' EXIT
"$build/bench/make_big_mft" "$image" "$files" 1000
cat "$image" >/dev/null
/usr/bin/time -f 'peak resident memory: %M KiB' "$build/bench/ntfs_list_bench" "$image" 2>&1 |
  awk -v n="$files" '{print} /^peak resident/ {printf "peak per entry: %.1f bytes\n", $4 * 1024 / (n + 1002)}'
