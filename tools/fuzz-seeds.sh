#!/usr/bin/env bash
# Seed corpora for the fuzz targets, made by the real tools: `tools/fuzz-seeds.sh DIR` writes
# DIR/<target>/ for every target. Volumes come from mkfs.fat, mkfs.exfat and mkntfs with files
# written by mtools (FAT) or left as formatted (exFAT, NTFS: no mount is needed); MFT records and
# folder clusters are cut out of those volumes; partition tables from sfdisk and sgdisk; the
# scan-info and partition-list files from kavo-cli itself (KAVO_CLI); the carving seeds are small
# files made by ImageMagick, zip and sox, laid one after another on sector boundaries.
set -euo pipefail
out=${1:?usage: fuzz-seeds.sh DIR}
cli=${KAVO_CLI:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1
mkdir -p "$out"/{fat_volume_fuzz,ntfs_volume_fuzz,ntfs_record_fuzz,fat_folder_fuzz}
mkdir -p "$out"/{partition_tables_fuzz,scan_info_fuzz,partition_list_fuzz}
mkdir -p "$out"/{scanner_raw_scan_fuzz,raw_camera_scanners_fuzz,container_fuzz}
cd "$work"

# Files, a folder, a long name and a deleted file on a FAT volume (mtools takes a FAT32 volume
# this small for FAT16, so the FAT32 seed stays as formatted).
fill_fat() {
  printf 'hello\n' >a.txt
  head -c 3000 /dev/urandom >b.bin
  mmd -i "$1" ::DIR && mmd -i "$1" ::DIR/SUB
  mcopy -i "$1" a.txt ::DIR/A.TXT
  mcopy -i "$1" b.bin "::DIR/SUB/A long file name.bin"
  mcopy -i "$1" b.bin ::GONE.BIN
  mdel -i "$1" ::GONE.BIN
}
truncate -s 1M fat12.img && mkfs.fat -F 12 fat12.img >/dev/null && fill_fat fat12.img
truncate -s 3M fat16.img && mkfs.fat -F 16 -s 1 fat16.img >/dev/null && fill_fat fat16.img
truncate -s 3M fat32.img && mkfs.fat -F 32 -s 1 fat32.img >/dev/null 2>&1  # too few clusters for mtools to fill
truncate -s 3M exfat.img && mkfs.exfat exfat.img >/dev/null
cp fat12.img fat16.img fat32.img exfat.img "$out/fat_volume_fuzz/"
for s in 512 4096; do
  truncate -s 2M "ntfs$s.img" && mkntfs -F -q -Q -s "$s" "ntfs$s.img" >/dev/null 2>&1
  cp "ntfs$s.img" "$out/ntfs_volume_fuzz/"
done

# The first MFT records of the NTFS volume, one seed each; the root folders of FAT16 and exFAT
# behind the selector byte of the folder target (0x00 FAT16, 0x80 exFAT).
python3 - "$out" <<'PY'
import struct, sys
out = sys.argv[1]
vol = open("ntfs512.img", "rb").read()
cluster = struct.unpack_from("<H", vol, 11)[0] * vol[13]
mft = struct.unpack_from("<Q", vol, 48)[0] * cluster
for i in range(16):
    record = vol[mft + 1024 * i: mft + 1024 * (i + 1)]
    if record[:4] == b"FILE":
        open(f"{out}/ntfs_record_fuzz/record{i}", "wb").write(record)
fat = open("fat16.img", "rb").read()
bps, spc, reserved, fats, roots = struct.unpack_from("<HBHBH", fat, 11)
fatsize = struct.unpack_from("<H", fat, 22)[0]
root = (reserved + fats * fatsize) * bps
open(f"{out}/fat_folder_fuzz/fat16-root", "wb").write(b"\x00" + fat[root:root + roots * 32])
ex = open("exfat.img", "rb").read()
heap, _, rootc = struct.unpack_from("<III", ex, 88)[0], 0, struct.unpack_from("<I", ex, 96)[0]
shift = ex[108] + ex[109]
start = (heap << ex[108]) + ((rootc - 2) << shift)
open(f"{out}/fat_folder_fuzz/exfat-root", "wb").write(b"\x80" + ex[start:start + (1 << shift)])
PY

# Partition tables: MBR with an extended partition and logical drives, and GPT; the first 64 KiB
# of each disk hold what the reader looks at first.
truncate -s 8M mbr.img
printf 'label: dos\n2048,2048,1\n4096,,5\n6144,6144,6\n' | sfdisk -q mbr.img >/dev/null
dd if=fat12.img of=mbr.img bs=512 seek=2048 conv=notrunc status=none
dd if=fat16.img of=mbr.img bs=512 seek=6144 conv=notrunc status=none
truncate -s 4M gpt.img
sgdisk -q -n 1:2048:4095 -t 1:0700 -n 2:4096:6143 -t 2:8300 gpt.img >/dev/null
head -c 65536 mbr.img >"$out/partition_tables_fuzz/mbr"
head -c 65536 gpt.img >"$out/partition_tables_fuzz/gpt"

# The MBR disk in the containers qemu-img writes: dynamic VHD, dynamic VDI, compressed qcow2.
if command -v qemu-img >/dev/null; then
  qemu-img convert -O vpc mbr.img "$out/container_fuzz/mbr.vhd"
  qemu-img convert -O vdi mbr.img "$out/container_fuzz/mbr.vdi"
  qemu-img convert -c -O qcow2 -o cluster_size=4096 mbr.img "$out/container_fuzz/mbr.qcow2"
fi

# The stored files as kavo-cli writes them.
if [ -n "$cli" ]; then
  "$cli" list fat16.img --save-scan "$out/scan_info_fuzz/fat16.qsv" >/dev/null 2>&1 || true
  "$cli" list ntfs512.img --save-scan "$out/scan_info_fuzz/ntfs.qsv" >/dev/null 2>&1 || true
  "$cli" partitions mbr.img --save "$out/partition_list_fuzz/mbr.psi" >/dev/null 2>&1 || true
fi

# Small real files on sector boundaries for the carving targets.
lay() {  # lay OUT FILE...: each file from a 512-byte boundary
  local target=$1
  shift
  : >"$target"
  for f in "$@"; do
    cat "$f" >>"$target"
    local pad=$(((512 - $(stat -c %s "$target") % 512) % 512))
    head -c "$pad" /dev/zero >>"$target"
  done
}
convert -size 32x24 gradient:red-blue p.png
convert p.png p.jpg && convert p.png p.bmp && convert p.png p.gif
convert p.png -compress none p.tif && convert p.png -endian MSB p-be.tif
zip -q p.zip a.txt b.bin
sox -n -r 8000 -c 1 p.wav synth 0.05 sine 440 2>/dev/null
printf '<html><body>seed</body></html>\n' >p.html
lay "$out/scanner_raw_scan_fuzz/mixed" p.png p.jpg p.bmp p.gif p.tif p.zip p.wav p.html
lay "$out/raw_camera_scanners_fuzz/tiffs" p.tif p-be.tif
for f in p.png p.jpg p.zip p.wav; do lay "$out/scanner_raw_scan_fuzz/$f" "$f"; done

# Small containers of a 2 MiB disk (random bytes, a zeroed stretch) from qemu-img and ewfacquire.
head -c 1M /dev/urandom >c.img && truncate -s 2M c.img
qemu-img convert -O vhdx -o block_size=1M c.img c.vhdx
qemu-img convert -O vmdk -o subformat=streamOptimized c.img c.vmdk
ewfacquire -u -q -t c -c deflate:fast -f encase6 c.img >/dev/null
cp c.vhdx c.vmdk c.E01 "$out/container_fuzz/"
