#!/usr/bin/env bash
# Builds Kavo: `tools/build.sh native`, `tools/build.sh win64`, `tools/build.sh win32` (any number
# of them; default native). Build folders: build/<target>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(native)
for t in "${targets[@]}"; do
  case "$t" in
    native) toolchain=() ;;
    win64) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake") ;;
    win32) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake") ;;
    *) echo "unknown target $t (native, win64, win32)" >&2; exit 2 ;;
  esac
  cmake -S "$root" -B "$root/build/$t" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "${toolchain[@]}" >/dev/null
  cmake --build "$root/build/$t"
done
