#!/usr/bin/env bash
# The main job on the sample image: installs what is missing of what it uses (tools/setup.sh demo:
# the compiler, CMake, Ninja, fdisk, dosfstools and mtools), builds kavo-cli alone, makes
# sample/disk.img (an MBR disk with a FAT32 volume at sector 2048 holding live and deleted
# files) and recovers its files, deleted ones included, into sample/recovered.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh demo
bash tools/build.sh cli >/dev/null
mkdir -p sample
bash tools/make-sample-image.sh sample/disk.img >/dev/null
cli=build/cli/src/cli/kavo-cli
run() {
  echo "\$ kavo-cli $*"
  "$cli" "$@"
  echo
}
run info sample/disk.img
run list sample/disk.img --start 2048
rm -rf sample/recovered
run recover sample/disk.img --start 2048 --out sample/recovered
