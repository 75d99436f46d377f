#!/bin/sh
# Runs the copy-page tests that need volumes with real sectors. Raw disks do not read under wine,
# so image files become the volumes X: (a FAT32 image made by mkfs.fat), Y: (a smaller, empty
# one) and W: (2 GB of zeros, sparse, for a copy long enough to cancel): each drive letter is a
# folder for its root and the image for its raw device. The drives must be in place before
# wine's server starts, so this run has a prefix of its own.
# Usage: copy_pages_volumes.sh <source dir> <shell_tests.exe>
set -e
source_dir=$1
tests=$2
image=${KAVO_FIXTURES:-}/fat32.img
if [ ! -f "$image" ]; then
  echo "skipped: no \$KAVO_FIXTURES/fat32.img (the FAT32 image made by mkfs.fat)"
  exit 77
fi
. "$source_dir/tools/wine-env.sh"
trap wine_prefix_cleanup EXIT
"$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
mkdir -p "$wine_scratch/x" "$wine_scratch/y" "$wine_scratch/w"
cp "$image" "$wine_scratch/x.img"
truncate -s 32M "$wine_scratch/y.img"
truncate -s 2G "$wine_scratch/w.img"
ln -s "$wine_scratch/w" "$WINEPREFIX/dosdevices/w:"
ln -s "$wine_scratch/w.img" "$WINEPREFIX/dosdevices/w::"
ln -s "$wine_scratch/x" "$WINEPREFIX/dosdevices/x:"
ln -s "$wine_scratch/x.img" "$WINEPREFIX/dosdevices/x::"
ln -s "$wine_scratch/y" "$WINEPREFIX/dosdevices/y:"
ln -s "$wine_scratch/y.img" "$WINEPREFIX/dosdevices/y::"
"$WINESERVER" -k >/dev/null 2>&1 || true
wine_prefix_setup
windows_scratch="Z:$(echo "$wine_scratch" | tr / '\\')"
KAVO_COPY_IMAGE="$windows_scratch\\x.img" KAVO_COPY_FOLDER="$windows_scratch" \
  "$WINE" "$tests" --gtest_filter='CopyPages*:CopyPagesVolumes*' </dev/null
