#!/usr/bin/env bash
# Makes the disk images the command-line tests read, with the original files beside them, so the
# Linux and the Windows (wine) test runs check the same images made by the real tools.
# Usage: tools/make-fixtures.sh DIR
#   DIR/fat32.img     an MBR disk with a FAT32 volume at sector 2048 (tools/make-sample-image.sh)
#   DIR/fat32-files/  the files written into it, by their paths on the volume
#   DIR/results.img   an MBR disk with a small FAT16 volume at sector 2048 for the results page
#   DIR/results-files/ its live files, by their paths on the volume
#   DIR/pictures.img  random bytes, zero runs and pictures made by ImageMagick at sector offsets
#   DIR/pictures/     the pictures, named by the start sector they were laid at (<sector>.<ext>)
#   DIR/ntfs.img      an NTFS volume written by ntfs-3g (only as root with FUSE and loop devices)
#   DIR/ntfs-files/   the files written into it; deleted ones under ntfs-files/deleted/
#   DIR/windows-ntfs.img  a disk that Windows wrote (the reference image ntfs_index, NTFS at
#                     sector 128), when the reference images are beside the checkout
#   DIR/windows-ntfs-files.txt  the paths of its live files and folders as fls lists them
#   DIR/exfat.img     an exFAT volume written through exfat-fuse (only as root with FUSE and loop
#                     devices): folders, empty files, a folder of many entries, deleted files
set -euo pipefail
out=${1:?usage: make-fixtures.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The FAT32 disk, and copies of what was written into it.
files="$out/fat32-files"
rm -rf "$files"
KAVO_SAMPLE_FILES="$files" bash "$here/make-sample-image.sh" "$out/fat32.img" >/dev/null

# The results page's disk: names a search by extension must tell apart, files of 0, 1 and 1024
# bytes, a deleted file and a folder of two files.
make_results() {
  local img="$out/results.img" files="$out/results-files" work="$tmp/results"
  rm -rf "$img" "$files" "$work"
  mkdir -p "$work" "$files/SUB"
  truncate -s 24M "$img"
  printf 'label: dos\nstart=2048, type=6\n' | sfdisk -q "$img"
  mkfs.fat -F 16 -n RESULTS --offset 2048 "$img" $((24 * 1024 - 1024)) >/dev/null
  convert -size 64x48 gradient:red-blue "$files/PHOTO.JPG"
  head -c 3000 /dev/urandom > "$files/A.JPG.BAK"
  printf 'not a picture' > "$files/.JPG"
  printf 'x' > "$files/ONE.BIN"
  head -c 1024 /dev/urandom > "$files/KILO.BIN"
  : > "$files/EMPTY.TXT"
  head -c 5000 /dev/urandom > "$files/SUB/FIRST.DAT"
  head -c 7000 /dev/urandom > "$files/SUB/SECOND.DAT"
  printf 'gone' > "$work/GONE.TXT"
  local vol="$img@@1M"
  MTOOLS_SKIP_CHECK=1 mmd -i "$vol" ::SUB
  MTOOLS_SKIP_CHECK=1 mcopy -i "$vol" "$files/PHOTO.JPG" "$files/A.JPG.BAK" "$files/.JPG" \
    "$files/ONE.BIN" "$files/KILO.BIN" "$files/EMPTY.TXT" "$work/GONE.TXT" ::
  MTOOLS_SKIP_CHECK=1 mcopy -i "$vol" "$files/SUB/FIRST.DAT" "$files/SUB/SECOND.DAT" ::SUB/
  MTOOLS_SKIP_CHECK=1 mdel -i "$vol" ::GONE.TXT
}

# Pictures between random data and zeros.
pics="$out/pictures"
rm -rf "$pics"
mkdir -p "$pics"
tmp=$(mktemp -d)
ntfs_loop=""
exfat_loop=""
cleanup() {
  if [ -d "$tmp/ntfs" ]; then umount "$tmp/ntfs" 2>/dev/null || true; fi
  if [ -n "$ntfs_loop" ]; then losetup -d "$ntfs_loop" 2>/dev/null || true; fi
  if [ -d "$tmp/exfat" ]; then umount "$tmp/exfat" 2>/dev/null || true; fi
  if [ -n "$exfat_loop" ]; then losetup -d "$exfat_loop" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
make_results
convert -size 320x240 plasma:fractal -seed 7 "$tmp/a.jpg"
convert -size 97x61 gradient:red-blue "$tmp/b.png"
convert -size 50x40 xc:green -fill yellow -draw 'circle 25,20 25,5' BMP3:"$tmp/c.bmp"
convert -size 1200x900 plasma: -quality 92 "$tmp/d.jpg"
img="$out/pictures.img"
rm -f "$img"
truncate -s 8M "$img"
head -c 1048576 /dev/urandom | dd of="$img" bs=512 seek=0 conv=notrunc status=none
sector=2048
for f in a.jpg b.png c.bmp d.jpg; do
  dd if="$tmp/$f" of="$img" bs=512 seek=$sector conv=notrunc status=none
  cp "$tmp/$f" "$pics/$sector.${f##*.}"
  size=$(stat -c %s "$tmp/$f")
  sector=$(( sector + (size + 511) / 512 + 64 ))
  head -c 65536 /dev/urandom | dd of="$img" bs=512 seek=$(( sector - 32 )) conv=notrunc status=none
done
# An NTFS volume written by the real driver: folders, a Unicode name, a tiny resident file, a
# fragmented file, and files deleted again.
make_ntfs() {
  local img="$out/ntfs.img" files="$out/ntfs-files" mnt="$tmp/ntfs"
  rm -rf "$img" "$files"
  truncate -s 48M "$img"
  mkntfs -q -F -c 4096 "$img" >/dev/null 2>&1 || return 1
  ntfs_loop=$(losetup -f --show "$img" 2>/dev/null) || return 1
  mkdir -p "$mnt"
  ntfs-3g "$ntfs_loop" "$mnt" 2>/dev/null || return 1
  mkdir -p "$mnt/Projects/2024" "$mnt/Unicode été" "$files/Projects/2024" "$files/deleted"
  printf 'tiny' > "$mnt/Projects/tiny.txt"
  head -c 200000 /dev/urandom > "$mnt/Projects/2024/data.bin"
  printf 'caf\xc3\xa9\n' > "$mnt/Unicode été/résumé.txt"
  for i in 1 2 3 4 5 6; do  # two files written in turns end up in interleaved fragments
    head -c 40960 /dev/urandom >> "$mnt/Projects/frag-a.bin"
    head -c 40960 /dev/urandom >> "$mnt/Projects/frag-b.bin"
    sync
  done
  head -c 123456 /dev/urandom > "$mnt/Projects/2024/old-report.bin"
  : > "$mnt/Projects/empty.txt"
  # A folder large enough for an index allocation, one of its files deleted.
  mkdir -p "$mnt/Many" "$files/Many"
  for i in $(seq 1 60); do printf 'file %s\n' "$i" > "$mnt/Many/entry-with-a-longer-name-$i.txt"; done
  rm "$mnt/Many/entry-with-a-longer-name-30.txt"
  cp -r "$mnt/Many/." "$files/Many/"
  cp -r "$mnt/Projects/." "$files/Projects/"
  cp -r "$mnt/Unicode été" "$files/"
  mv "$files/Projects/2024/old-report.bin" "$files/deleted/"
  rm "$mnt/Projects/2024/old-report.bin"
  umount "$mnt" && rmdir "$mnt"
  losetup -d "$ntfs_loop" && ntfs_loop=""
}
if command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null && [ "$(id -u)" -eq 0 ]; then
  make_ntfs || rm -rf "$out/ntfs.img" "$out/ntfs-files"
fi
make_exfat() {
  local img="$out/exfat.img" mnt="$tmp/exfat"
  rm -f "$img"
  truncate -s 40M "$img"
  mkfs.exfat -L KAVOEX "$img" >/dev/null 2>&1 || return 1
  exfat_loop=$(losetup -f --show "$img" 2>/dev/null) || return 1
  mkdir -p "$mnt"
  mount.exfat-fuse "$exfat_loop" "$mnt" 2>/dev/null || return 1
  mkdir -p "$mnt/Docs/Old" "$mnt/Many"
  : > "$mnt/Docs/empty.txt"
  head -c 70000 /dev/urandom > "$mnt/Docs/Old/data.bin"
  printf 'caf\xc3\xa9\n' > "$mnt/Docs/café.txt"
  for i in $(seq 1 80); do printf 'entry %s\n' "$i" > "$mnt/Many/file-with-a-long-name-$i.txt"; done
  for i in 1 2 3 4; do  # interleaved, so their chains are fragmented
    head -c 20000 /dev/urandom >> "$mnt/Docs/frag-a.bin"
    head -c 20000 /dev/urandom >> "$mnt/Docs/frag-b.bin"
    sync
  done
  head -c 5000 /dev/urandom > "$mnt/Docs/deleted.bin"
  sync
  rm "$mnt/Docs/deleted.bin" "$mnt/Many/file-with-a-long-name-7.txt"
  umount "$mnt" && rmdir "$mnt"
  losetup -d "$exfat_loop" && exfat_loop=""
}
if command -v mkfs.exfat >/dev/null && command -v mount.exfat-fuse >/dev/null &&
  [ "$(id -u)" -eq 0 ]; then
  make_exfat || rm -f "$out/exfat.img"
fi
# A disk written by Windows, with the paths fls gives for its live entries (neither the metadata
# files that are never listed nor named streams).
reference="$here/../../shared/reference-images/ntfs_index.raw.gz"
if [ -f "$reference" ] && command -v fls >/dev/null; then
  gunzip -c "$reference" > "$out/windows-ntfs.img"
  fls -r -p -o 128 "$out/windows-ntfs.img" | grep -v '^[^	]* \* ' | cut -f2 | grep -v ':' |
    grep -vE '^\$(MFT|MFTMirr|LogFile|Volume|AttrDef|Bitmap|Boot|BadClus|Secure|UpCase|OrphanFiles)(/|$)' \
      > "$out/windows-ntfs-files.txt"
  # The same disk in a Hyper-V container and a forensic image, for Load Image of containers.
  if command -v qemu-img >/dev/null; then
    qemu-img convert -O vhdx "$out/windows-ntfs.img" "$out/windows-ntfs.vhdx"
  fi
  if command -v ewfacquire >/dev/null; then
    rm -f "$out/windows-ntfs.E01"
    ewfacquire -u -q -t "$out/windows-ntfs" -c deflate:fast -f encase6 "$out/windows-ntfs.img" \
      >/dev/null
  fi
fi
echo "$out"
