#!/usr/bin/env bash
# Sequential read of one disk as raw sectors and as the containers qemu-img writes of it (dynamic
# VHD, dynamic VDI, qcow2, compressed qcow2), all through the sector source from the page cache,
# and each container's rate over the raw one (target 0.80 or more). The disk is SIZE_MIB (default
# 1024) of 64 KiB runs of random bytes (half of them), zeros and text, so a compressed container
# inflates real data and a dynamic one holds every block.
#
# Usage: bench/container_read.sh PATH/TO/container_read_bench [WORK_DIR]
set -euo pipefail
bench=${1:?usage: $0 PATH/TO/container_read_bench [WORK_DIR]}
size=${SIZE_MIB:-1024}
command -v qemu-img >/dev/null || { echo "qemu-img is not installed" >&2; exit 2; }
work=${2:-$(mktemp -d)}
trap 'rm -f "$work"/bench.*' EXIT
python3 - "$work/bench.raw" "$size" <<'PY'
import os, sys
path, mib = sys.argv[1], int(sys.argv[2])
text = (b"The quick brown fox jumps over the lazy dog. " * 1500)[:65536]
with open(path, "wb") as f:
    for i in range(mib * 16):
        f.write(os.urandom(65536) if i % 2 == 0 else (text if i % 4 == 1 else bytes(65536)))
PY
qemu-img convert -O vpc "$work/bench.raw" "$work/bench.vhd"
qemu-img convert -O vdi "$work/bench.raw" "$work/bench.vdi"
qemu-img convert -O qcow2 "$work/bench.raw" "$work/bench.qcow2"
qemu-img convert -c -O qcow2 "$work/bench.raw" "$work/bench.c.qcow2"
# Every file is written once more by cat, so all of them sit alike in the page cache (qemu-img's
# own writes leave a file in small pages that the kernel copies out at half the rate, whatever
# reads it), and read once before the timed passes.
for f in "$work"/bench.{raw,vhd,vdi,qcow2,c.qcow2}; do
  cat "$f" >"$f.copy" && mv "$f.copy" "$f"
done
cat "$work"/bench.* >/dev/null
"$bench" "$work/bench.raw" "$work/bench.vhd" "$work/bench.vdi" "$work/bench.qcow2" \
  "$work/bench.c.qcow2" | tee "$work/bench.rates"
awk 'NR == 1 { raw = $2 } NR > 1 { printf "%-40s %.2f of raw\n", $1, $2 / raw }' "$work/bench.rates"
