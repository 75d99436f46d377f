#!/usr/bin/env bash
# The results page of Kavo.exe on a large tree, under wine: how long a scan-info file of NODES
# nodes (FOLDERS of them folders) takes from "Open" in the file dialog to the tree shown, then to
# open a folder of folders, show a folder of files and mark everything.
#
#   bench/results_fill.sh WIN_BUILD_DIR [NODES [FOLDERS]]   (default 1000000 10000)
#
# WIN_BUILD_DIR is a win64 build (tools/build.sh win64) with the target results_fill_bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: $0 WIN_BUILD_DIR [NODES [FOLDERS]]}
# shellcheck source=../tools/wine-env.sh
source "$root/tools/wine-env.sh"
wine_prefix_setup
trap wine_prefix_cleanup EXIT
$WINE "$build/bench/results_fill_bench.exe" "${2:-1000000}" "${3:-10000}"
