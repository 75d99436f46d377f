#!/usr/bin/env bash
# Builds Kavo: `tools/build.sh native`, `win64`, `win32`, `asan` or `cli` (any number of them;
# default native). Build folders: build/<target>. `asan` is the native build with AddressSanitizer
# and UndefinedBehaviorSanitizer, for the test command's second run of the native tests; `cli` is
# kavo-cli alone, without the test programs (the demo's build, which needs no test packages).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(native)
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
for t in "${targets[@]}"; do
  extra=()
  only=()
  case "$t" in
    native) ;;
    cli) extra=(-DKAVO_BUILD_TESTS=OFF) only=(--target kavo-cli) ;;
    win64) extra=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake") ;;
    win32) extra=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-i686.cmake") ;;
    asan)
      sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
      extra=("-DCMAKE_CXX_FLAGS=$sanitize" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined")
      ;;
    *) echo "unknown target $t (native, win64, win32, asan, cli)" >&2; exit 2 ;;
  esac
  cmake -S "$root" -B "$root/build/$t" -G Ninja -DKAVO_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "${launcher[@]}" "${extra[@]}" >/dev/null
  cmake --build "$root/build/$t" "${only[@]}"
done
