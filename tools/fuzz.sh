#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each one: `tools/fuzz.sh SECONDS [TARGET...]` for a time-boxed search of every target or
# of those named (default 60 s each; the runs, exec/s and coverage of each go to
# build/fuzz/<target>.report and are printed as one table), or `tools/fuzz.sh --smoke` for a fixed, repeatable number of runs from a fixed seed (used by the
# test command, so a target that no longer builds or crashes at once is caught).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1"
cmake -S "$root" -B "$build" -G Ninja -DKAVO_WERROR=ON -DCMAKE_CXX_COMPILER=clang++ -DKAVO_FUZZ=ON \
  -DKAVO_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=$flags" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
targets=$(cd "$root/fuzz" && ls *_fuzz.cpp | sed 's/\.cpp$//')
mode=${1:-60}
[ $# -gt 1 ] && targets="${*:2}"
# shellcheck disable=SC2086
ninja -C "$build" $targets >/dev/null
# Seed corpora from the real tools; each run works on its own copy, so found inputs stay in
# build/fuzz/corpus for the next run.
seeds=$(mktemp -d)
trap 'rm -rf "$seeds"' EXIT
KAVO_CLI="${KAVO_CLI:-$root/build/native/src/cli/kavo-cli}" bash "$root/tools/fuzz-seeds.sh" "$seeds"
[ -x "${KAVO_CLI:-$root/build/native/src/cli/kavo-cli}" ] ||
  echo "fuzz: kavo-cli not built, the scan-info and partition-list seeds are left out" >&2
row() { printf '%-28s %12s %10s %8s %8s %s\n' "$@"; }
for t in $targets; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  cp -n "$seeds/$t"/* "$corpus/" 2>/dev/null || true
  if [ "$mode" = "--smoke" ]; then
    smoke=$(mktemp -d)
    cp "$seeds/$t"/* "$smoke/" 2>/dev/null || true
    "$build/fuzz/$t" -seed=1 -runs=3000 -max_len=4194304 "$smoke" >/dev/null 2>"$build/$t.log" ||
      { cat "$build/$t.log" >&2; echo "fuzz target $t failed" >&2; rm -rf "$smoke"; exit 1; }
    rm -rf "$smoke"
  else
    "$build/fuzz/$t" -max_total_time="$mode" -max_len=4194304 -print_final_stats=1 \
      "$corpus" >"$build/$t.log" 2>&1 || { tail -n 40 "$build/$t.log" >&2; echo "fuzz target $t failed" >&2; exit 1; }
    runs=$(grep -oE '^stat::number_of_executed_units: *[0-9]+' "$build/$t.log" | grep -oE '[0-9]+$')
    speed=$(grep -oE '^stat::average_exec_per_sec: *[0-9]+' "$build/$t.log" | grep -oE '[0-9]+$')
    last=$(grep -E '^#[0-9]+' "$build/$t.log" | tail -n 1)
    cov=$(grep -oE 'cov: [0-9]+' <<<"$last" | grep -oE '[0-9]+')
    ft=$(grep -oE 'ft: [0-9]+' <<<"$last" | grep -oE '[0-9]+')
    row "$t" "$runs" "$speed" "$cov" "$ft" "$mode" >"$build/$t.report"
  fi
  echo "fuzz $t: ok"
done
if [ "$mode" != "--smoke" ]; then
  row target runs exec/s cov ft seconds
  for t in $targets; do cat "$build/$t.report"; done
fi
