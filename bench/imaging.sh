#!/usr/bin/env bash
# Images one loop device with dd, ddrescue and `kavo-cli image`, in the same run and from the page
# cache, and prints each rate in GB/s (10^9 bytes per second), best of ROUNDS runs, and kavo's rate
# over the faster of dd and ddrescue (target 0.90 or more). The device holds a 64 MiB random block
# written over and over, so no reader gains from holes or zero pages. The kavo image is checked
# against the device by SHA-256.
#
# Then a 256 MiB failing device (a FUSE file served by tests/faulty_media, with a loop device over
# it) with a few unreadable ranges and a flaky one is imaged by kavo-cli and ddrescue with one
# retry each, and the time and the rescued and bad bytes of each map are printed. FAULTY_MEDIA
# names the faulty_media program (default: the one built beside kavo-cli).
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

mount=$work/imaging-faulty
faulty=${FAULTY_MEDIA:-$(dirname "$cli")/../../tests/faulty_media}

loop=""
salvage_loop=""
mounted=0
cleanup() {
  if [ -n "$salvage_loop" ]; then losetup -d "$salvage_loop" || true; fi
  if [ "$mounted" = 1 ]; then fusermount3 -u "$mount" || true; fi
  if [ -n "$loop" ]; then losetup -d "$loop" || true; fi
  rmdir "$mount" 2>/dev/null || true
  rm -f "$source_file" "$block" "$salvage_file" "$out" "$out.map" "$map" "$log" "$err"
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
  rm -f "$out" "$out.map" "$map" "$log"
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
rm -f "$out" "$out.map" "$map" "$log"

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

if [ ! -x "$faulty" ] || [ ! -e /dev/fuse ]; then
  echo "salvage: skipped, $faulty is not built (libfuse3-dev) or /dev/fuse is missing"
  exit 0
fi
head -c "${salvage_mib}M" /dev/urandom >"$salvage_file"
sectors=$((salvage_mib * 2048))
# Four unreadable ranges at 1/5, 2/5, 3/5 and 4/5 of the device, and a flaky one between the
# first two. They start and end on 4 KiB: the device is read through the page cache in 4 KiB
# pages, and one bad sector fails its whole page.
faults=()
bad=0
for k in 1 2 3 4; do
  start=$((sectors * k / 5 / 8 * 8))
  count=$((8 << (k % 3)))  # 16, 32, 8, 16 sectors
  faults+=(--bad "$start-$((start + count - 1))")
  bad=$((bad + count))
done
flaky=$((sectors * 3 / 10 / 8 * 8))
faults+=(--flaky "$flaky-$((flaky + 63)):50")
mkdir -p "$mount"
"$faulty" "$salvage_file" "$mount" "${faults[@]}"
mounted=1
salvage_loop=$(losetup -f --show "$mount/disk")
blockdev --setra 0 "$salvage_loop"

# Bytes of the map blocks of one status.
map_bytes() {
  local total=0 pos size status
  while read -r pos size status _; do
    [[ $pos == \#* || -z $status ]] && continue
    [ "$status" = "$2" ] && total=$((total + size))
  done <"$1"
  echo "$total"
}
run_salvage_kavo() { "$cli" image "$salvage_loop" "$out" --retries 1 --log "$log" >"$err" 2>&1; }
run_salvage_ddrescue() { ddrescue -f -q -r1 "$salvage_loop" "$out" "$map" >"$err" 2>&1; }
salvagers=(kavo)
if command -v ddrescue >/dev/null; then salvagers+=(ddrescue); fi
echo "salvage of $((sectors * 512)) bytes with $bad unreadable sectors and a flaky range, 1 retry:"
for tool in "${salvagers[@]}"; do
  blockdev --flushbufs "$salvage_loop"  # no pages left from the run before
  timed $((sectors * 512)) "run_salvage_$tool"
  tool_map=$map
  [ "$tool" = kavo ] && tool_map=$out.map
  printf '  %-9s %7.3f s  %6.3f GB/s  rescued %d bytes, bad %d bytes\n' "$tool" "$elapsed" \
    "$rate" "$(map_bytes "$tool_map" +)" "$(map_bytes "$tool_map" -)"
done
