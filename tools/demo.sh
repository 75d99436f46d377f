#!/usr/bin/env bash
# The main job on the sample image: installs what is missing, builds kavo-cli, makes
# sample/disk.img and runs kavo-cli on it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash tools/setup.sh
bash tools/build.sh native >/dev/null
mkdir -p sample
bash tools/make-sample-image.sh sample/disk.img >/dev/null
echo "\$ kavo-cli info sample/disk.img"
build/native/src/cli/kavo-cli info sample/disk.img
