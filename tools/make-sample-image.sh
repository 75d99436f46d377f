#!/usr/bin/env bash
# Makes the sample disk image of the demo: a 64 MiB disk with an MBR and one FAT32 partition at
# sector 2048 holding a few folders and files, two of them deleted afterwards.
# Usage: tools/make-sample-image.sh OUT.img
set -euo pipefail
out=${1:?usage: make-sample-image.sh OUT.img}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -f "$out"
truncate -s 64M "$out"
printf 'label: dos\nstart=2048, type=c\n' | sfdisk -q "$out"
mkfs.fat -F 32 -n KAVOSAMPLE --offset 2048 "$out" $((64 * 1024 - 1024)) >/dev/null

export MTOOLS_SKIP_CHECK=1
vol="$out@@1M"
mmd -i "$vol" ::Documents ::Photos ::Photos/2024
for i in $(seq 1 20); do
  printf 'Kavo sample report %d\n%s\n' "$i" "$(seq -s ' ' 1 $((i * 40)))" > "$work/report$i.txt"
done
mcopy -i "$vol" "$work"/report*.txt ::Documents/
head -c 300000 /dev/urandom > "$work/holiday.raw"
mcopy -i "$vol" "$work/holiday.raw" ::Photos/2024/
printf 'A file with a long name\n' > "$work/Meeting notes, December.txt"
mcopy -i "$vol" "$work/Meeting notes, December.txt" ::Documents/
mdel -i "$vol" ::Documents/report3.txt ::Documents/report7.txt

# Keep the originals when asked (the tests compare recovered files with them).
if [ -n "${KAVO_SAMPLE_FILES:-}" ]; then
  mkdir -p "$KAVO_SAMPLE_FILES/Documents" "$KAVO_SAMPLE_FILES/Photos/2024"
  cp "$work"/report*.txt "$work/Meeting notes, December.txt" "$KAVO_SAMPLE_FILES/Documents/"
  cp "$work/holiday.raw" "$KAVO_SAMPLE_FILES/Photos/2024/"
fi
echo "$out"
