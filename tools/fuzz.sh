#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each one: `tools/fuzz.sh SECONDS` for a time-boxed search (default 60 s each), or
# `tools/fuzz.sh --smoke` for a fixed, repeatable number of runs from a fixed seed (used by the
# test command, so a target that no longer builds or crashes at once is caught).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1"
cmake -S "$root" -B "$build" -G Ninja -DKAVO_WERROR=ON -DCMAKE_CXX_COMPILER=clang++ -DKAVO_FUZZ=ON \
  -DKAVO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
targets=$(cd "$root/fuzz" && ls *_fuzz.cpp | sed 's/\.cpp$//')
# shellcheck disable=SC2086
ninja -C "$build" $targets >/dev/null
for t in $targets; do
  if [ "${1:-}" = "--smoke" ]; then
    "$build/fuzz/$t" -seed=1 -runs=3000 -max_len=65536 >/dev/null 2>"$build/$t.log" ||
      { cat "$build/$t.log" >&2; echo "fuzz target $t failed" >&2; exit 1; }
  else
    "$build/fuzz/$t" -max_total_time="${1:-60}" -max_len=1048576 2>&1 | tail -n 3
  fi
  echo "fuzz $t: ok"
done
