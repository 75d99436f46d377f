#!/usr/bin/env bash
# Lists an NTFS volume of 110 000 files (one folder of 100 000 of them) with `kavo-cli list --json`
# and with The Sleuth Kit's `fls -r -p`, and prints both times and their ratio.
#
#   bench/ntfs_list.sh KAVO_CLI [NTFS_LIST_BENCH]
#
# KAVO_CLI is the kavo-cli binary. NTFS_LIST_BENCH, when given, is the ntfs_list_bench program
# (bench/ntfs_list_bench.cpp); it adds the MFT read rate and the memory per entry. Needs root,
# mkntfs, ntfs-3g (FUSE), losetup, fls and python3. KEEP_IMAGE=path keeps the volume image there.
set -euo pipefail

cli=${1:?usage: $0 KAVO_CLI [NTFS_LIST_BENCH]}
harness=${2:-}
for tool in mkntfs ntfs-3g losetup fls python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
[ "$(id -u)" = 0 ] || { echo "mounting a loop device needs root" >&2; exit 1; }

work=$(mktemp -d)
image=$work/ntfs-bench.img
mnt=$work/mnt
loop=
cleanup() {
  if mountpoint -q "$mnt" 2>/dev/null; then umount "$mnt"; fi
  if [ -n "$loop" ]; then losetup -d "$loop"; fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "making the volume (110 000 files through ntfs-3g; this takes a minute)..." >&2
truncate -s 768M "$image"
mkntfs -F -q "$image" >/dev/null 2>&1
loop=$(losetup -f --show "$image")
mkdir "$mnt"
ntfs-3g "$loop" "$mnt"
python3 - "$mnt" <<'EOF'
import os, sys
root = sys.argv[1]
def fill(folder, count, prefix):
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        fd = os.open(os.path.join(folder, "%s%06d.txt" % (prefix, i)), os.O_WRONLY | os.O_CREAT)
        os.write(fd, b"entry %d\n" % i)
        os.close(fd)
fill(os.path.join(root, "one-folder"), 100000, "file-")
for d in range(10):
    fill(os.path.join(root, "tree", "d%02d" % d, "sub"), 1000, "f-")
EOF
umount "$mnt"
losetup -d "$loop"
loop=
if [ -n "${KEEP_IMAGE:-}" ]; then cp --sparse=always "$image" "$KEEP_IMAGE"; fi

cat "$image" >/dev/null  # both listings read from the page cache

seconds() {  # runs "$@" with output discarded and prints the elapsed seconds
  local start=$EPOCHREALTIME
  "$@" >/dev/null
  local end=$EPOCHREALTIME
  python3 -c "print('%.3f' % ($end - $start))"
}

entries=$("$cli" list "$image" --json | wc -l)
kavo=$(seconds "$cli" list "$image" --json)
fls=$(seconds fls -r -p "$image")
echo "entries listed by kavo-cli: $entries"
echo "kavo-cli list --json: ${kavo} s"
echo "fls -r -p:            ${fls} s"
python3 -c "print('ratio fls / kavo-cli: %.1fx' % ($fls / max($kavo, 0.001)))"
if [ -n "$harness" ]; then
  "$harness" "$image"
fi
