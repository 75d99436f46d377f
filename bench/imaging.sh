#!/usr/bin/env bash
# Images one loop device with dd, ddrescue and `kavo-cli image`, in the same run and from the page
# cache, and prints each rate in GB/s (10^9 bytes per second), best of ROUNDS runs, and kavo's rate
# over the faster of dd and ddrescue (target 0.90 or more). The device holds a 64 MiB random block
# written over and over, so no reader gains from holes or zero pages. The kavo image is checked
# against the device by SHA-256.
#
# Where device-mapper works, a 256 MiB device made of linear ranges with a few "error" ranges
# between them is then imaged with one retry, and the rate of that salvage and the bad sectors its
# log counts are printed.
#
# Usage: bench/imaging.sh PATH/TO/kavo-cli [WORK_DIR]        (as root)
#
# ROUNDS sets how many interleaved rounds are timed (default 3; the best of each tool counts:
# copies into memory vary by 2x from run to run on a shared machine).
# SIZE_GIB sets the size of the device in GiB (default 4). WORK_DIR (default: a new folder under
# ${TMPDIR:-/tmp}) holds the device's backing file and the images, so it needs room for twice that
# size; its files are removed at the end. On tmpfs the figures leave the disk out; on a disk, kavo
# and ddrescue flush their image (fsync) before they finish and dd does not, so their times include
# writing to the disk whatever the page cache still holds.
set -euo pipefail
rounds=${ROUNDS:-3}

cli=${1:?usage: $0 PATH/TO/kavo-cli [WORK_DIR]}
[ -x "$cli" ] || { echo "$cli is not an executable" >&2; exit 2; }
cli=$(cd "$(dirname "$cli")" && pwd)/$(basename "$cli")
[ "$(id -u)" -eq 0 ] || { echo "needs root: the device is attached with losetup" >&2; exit 2; }
for tool in losetup dd sha256sum bc; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 2; }
done
size_gib=${SIZE_GIB:-4}
[[ $size_gib =~ ^[1-9][0-9]*$ ]] || { echo "SIZE_GIB takes a whole number of GiB" >&2; exit 2; }
bytes=$((size_gib * 1073741824))
salvage_mib=256

made_work=0
if [ $# -ge 2 ]; then
  work=$2
  mkdir -p "$work"
else
  work=$(mktemp -d)
  made_work=1
fi
work=$(cd "$work" && pwd)
source_file=$work/imaging-source.bin
block=$work/imaging-block.bin
salvage_file=$work/imaging-salvage.bin
out=$work/imaging-out.img
map=$work/imaging-out.map
log=$work/imaging-kavo.log
err=$work/imaging-tool.err

loop=""
salvage_loop=""
dm_name=""
cleanup() {
  if [ -n "$dm_name" ]; then dmsetup remove "$dm_name" || dmsetup remove --force "$dm_name" || true; fi
  if [ -n "$salvage_loop" ]; then losetup -d "$salvage_loop" || true; fi
  if [ -n "$loop" ]; then losetup -d "$loop" || true; fi
  rm -f "$source_file" "$block" "$salvage_file" "$out" "$map" "$log" "$err"
  if [ "$made_work" = 1 ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The backing files and two images (the device's and the salvaged one), with a block to spare.
need=$((2 * bytes + (2 * salvage_mib + 64) * 1048576))
avail=$(df -B1 --output=avail "$work" | tail -n 1 | tr -d ' ')
if [ "$avail" -lt "$need" ]; then
  printf '%s has %.1f GiB free, the run needs %.1f GiB: set SIZE_GIB lower (now %d)\n' "$work" \
    "$(echo "$avail / 1073741824" | bc -l)" "$(echo "$need / 1073741824" | bc -l)" "$size_gib" >&2
  exit 2
fi
mem_kib=$(sed -n 's/^MemAvailable: *\([0-9]*\) kB/\1/p' /proc/meminfo)
if [ -n "$mem_kib" ] && [ $((mem_kib * 1024)) -lt $((3 * bytes)) ]; then
  echo "note: less than 3 x $size_gib GiB of memory is available; some reads may reach the disk"
fi

head -c 64M /dev/urandom >"$block"
for ((i = 0; i < size_gib * 16; i++)); do cat "$block"; done >"$source_file"
rm -f "$block"
sync  # nothing of the backing file is left to write while the copies are timed
loop=$(losetup -f --show "$source_file")
cat "$loop" >/dev/null  # into the page cache
want=$(sha256sum <"$loop" | cut -d ' ' -f 1)

run_dd() { dd if="$loop" of="$out" bs=32M 2>"$err"; }
run_ddrescue() { ddrescue -f -q "$loop" "$out" "$map" >"$err" 2>&1; }
run_kavo() { "$cli" image "$loop" "$out" --log "$log" >"$err" 2>&1; }

# Runs one copy into a fresh output, with no dirty pages of an earlier one still pending, and sets
# `rate` (GB/s of `count` bytes) and `elapsed`.
timed() {
  local count=$1 start end
  shift
  rm -f "$out" "$map" "$log"
  sync
  start=$(date +%s.%N)
  if ! "$@"; then
    echo "$1 failed:" >&2
    cat "$err" >&2
    exit 1
  fi
  end=$(date +%s.%N)
  elapsed=$(echo "$end - $start" | bc -l)
  rate=$(echo "$count / $elapsed / 1000000000" | bc -l)
}

tools=(dd)
if command -v ddrescue >/dev/null; then tools+=(ddrescue); fi
tools+=(kavo)
declare -A best=([dd]=0 [ddrescue]=0 [kavo]=0)
echo "imaging $loop, $bytes bytes, into $work"
for run in $(seq 1 "$rounds"); do
  for tool in "${tools[@]}"; do
    timed "$bytes" "run_$tool"
    printf 'run %d  %-9s %7.3f s  %6.2f GB/s\n' "$run" "$tool" "$elapsed" "$rate"
    if (($(echo "$rate > ${best[$tool]}" | bc -l))); then best[$tool]=$rate; fi
  done
done
# The last copy was kavo's: its image is still there.
got=$(sha256sum <"$out" | cut -d ' ' -f 1)
rm -f "$out" "$map" "$log"

printf 'dd bs=32M        %6.2f GB/s\n' "${best[dd]}"
if command -v ddrescue >/dev/null; then
  printf 'ddrescue         %6.2f GB/s\n' "${best[ddrescue]}"
else
  echo "ddrescue         skipped: not installed (package gddrescue)"
fi
printf 'kavo-cli image   %6.2f GB/s\n' "${best[kavo]}"
faster="dd"
if (($(echo "${best[ddrescue]} > ${best[dd]}" | bc -l))); then faster=ddrescue; fi
printf 'kavo / %s: %.3f (target 0.90 or more)\n' "$faster" \
  "$(echo "${best[kavo]} / ${best[$faster]}" | bc -l)"
if [ "$got" = "$want" ]; then
  echo "kavo image sha256: OK ($got)"
else
  echo "kavo image sha256: MISMATCH (device $want, image $got)"
fi

losetup -d "$loop"
loop=""
rm -f "$source_file"

if ! command -v dmsetup >/dev/null; then
  echo "salvage: skipped, dmsetup is not installed (package dmsetup)"
  exit 0
fi
head -c "${salvage_mib}M" /dev/urandom >"$salvage_file"
salvage_loop=$(losetup -f --show "$salvage_file")
sectors=$((salvage_mib * 2048))
# Four unreadable ranges at 1/5, 2/5, 3/5 and 4/5 of the device. They start and end on 4 KiB,
# since the page cache reads a block device in 4 KiB blocks: one bad sector fails its whole block.
table=""
at=0
bad=0
for k in 1 2 3 4; do
  start=$((sectors * k / 5 / 8 * 8))
  count=$((8 << (k % 3)))  # 16, 32, 8, 16 sectors
  table+="$at $((start - at)) linear $salvage_loop $at"$'\n'
  table+="$start $count error"$'\n'
  at=$((start + count))
  bad=$((bad + count))
done
table+="$at $((sectors - at)) linear $salvage_loop $at"$'\n'
name=kavo-imaging-$$
if ! message=$(dmsetup create "$name" <<<"$table" 2>&1); then
  echo "salvage: skipped, dmsetup create failed: $(head -n 1 <<<"$message")"
  exit 0
fi
dm_name=$name
dmsetup mknodes "$name" >/dev/null 2>&1 || true
dm=/dev/mapper/$name
cat "$salvage_file" >/dev/null  # the linear ranges read the backing file through the page cache

run_salvage() { "$cli" image "$dm" "$out" --retries 1 --log "$log" >"$err" 2>&1; }
timed $((sectors * 512)) run_salvage
found=$(tr -d '\r' <"$log" | sed -n 's/^\([0-9]*\) Bad Sector(s) encountered\.$/\1/p')
printf 'salvage of %d bytes with %d unreadable sectors, --retries 1: %.3f s  %.2f GB/s\n' \
  $((sectors * 512)) "$bad" "$elapsed" "$rate"
echo "bad sectors in the log: ${found:-none reported} (the device has $bad)"
