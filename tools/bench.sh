#!/usr/bin/env bash
# Runs every benchmark of bench/ in one run on this machine, Kavo against the tools a user would
# pick instead, and prints one table of ratios with the machine it ran on:
#   carving   kavo-cli carve --formats all  vs photorec, foremost, scalpel (bench/carve_compare.sh)
#   listing   kavo-cli list --json          vs fls -r -p (bench/ntfs_list.sh, bench/fat_list.sh)
#   imaging   kavo-cli image                vs dd, ddrescue (bench/imaging.sh)
#   memory    the NTFS listing of 10 million entries: peak resident memory (bench/ntfs_memory.sh)
#
#   tools/bench.sh [WORKDIR]        (as root: the listing and imaging runs use loop devices)
#
# Builds kavo-cli in Release into build/bench first. SKIP="imaging scalpel" leaves parts out.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-/tmp/kavo-bench-all}
skip=" ${SKIP:-} "
mkdir -p "$work"
logs=$work/logs
mkdir -p "$logs"

cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKAVO_BUILD_TESTS=OFF >/dev/null &&
  ninja -C "$root/build/bench" kavo-cli make_big_mft ntfs_list_bench >/dev/null || exit 1
cli=$root/build/bench/src/cli/kavo-cli

rows=()
row() { rows+=("$(printf '%-9s %-40s %s' "$1" "$2" "$3")"); }

if [[ $skip != *" carving "* ]]; then
  echo "== carving (bench/carve_compare.sh)" >&2
  peers="photorec foremost scalpel"
  [[ $skip == *" scalpel "* ]] && peers="photorec foremost"
  PEERS=$peers bash "$root/bench/carve_compare.sh" "$cli" "$work/carve" | tee "$logs/carve.log" >&2
  kavo=$(awk '$2 == "kavo" {print $4, $5, $6}' "$logs/carve.log")
  read -r krate kwhole kplaced <<<"$kavo"
  row carving "kavo-cli, every format" "${krate:-?} GB/s, ${kwhole:-?} of ${kplaced:-?} files whole"
  for peer in photorec foremost scalpel; do
    line=$(awk -v p="$peer" '$2 == p {print $4, $5}' "$logs/carve.log")
    [ -n "$line" ] || continue
    read -r prate pwhole <<<"$line"
    row carving "kavo / $peer throughput" \
      "$(awk -v k="$krate" -v p="$prate" 'BEGIN {printf "%.1fx", p > 0 ? k / p : 0}') ($peer: $prate GB/s, $pwhole files whole)"
  done
fi

if [[ $skip != *" listing "* ]]; then
  echo "== listing (bench/ntfs_list.sh, bench/fat_list.sh)" >&2
  if bash "$root/bench/ntfs_list.sh" "$cli" >"$logs/ntfs.log" 2>&1; then
    k=$(awk -F': *' '/^kavo-cli list/ {print $2+0}' "$logs/ntfs.log")
    f=$(awk -F': *' '/^fls -r -p/ {print $2+0}' "$logs/ntfs.log")
    row listing "NTFS, 110 000 files: fls / kavo time" \
      "$(awk -v k="$k" -v f="$f" 'BEGIN {printf "%.1fx", f / k}') (kavo $k s, fls $f s)"
  else
    row listing "NTFS" "not run: $(tail -n 1 "$logs/ntfs.log")"
  fi
  if bash "$root/bench/fat_list.sh" "$cli" "$work/fat" >"$logs/fat.log" 2>&1; then
    while read -r line; do
      label=$(sed -E 's/ +kavo-cli.*//' <<<"$line")
      ratio=$(grep -oE 'fls/kavo +[0-9.]+x' <<<"$line" | awk '{print $2}')
      row listing "FAT32, $label: fls / kavo time" "$ratio"
    done < <(grep 'fls/kavo' "$logs/fat.log")
  else
    row listing "FAT32" "not run: $(tail -n 1 "$logs/fat.log")"
  fi
fi

if [[ $skip != *" imaging "* ]]; then
  echo "== imaging (bench/imaging.sh)" >&2
  if SIZE_GIB=${SIZE_GIB:-2} bash "$root/bench/imaging.sh" "$cli" >"$logs/imaging.log" 2>&1; then
    line=$(grep -E '^kavo / ' "$logs/imaging.log")
    row imaging "kavo / faster of dd and ddrescue" "$(awk '{print $4}' <<<"$line") (vs $(awk '{print $3}' <<<"$line" | tr -d :))"
    row imaging "image checked" "$(grep -oE 'sha256: [A-Z]+' "$logs/imaging.log")"
  else
    row imaging "imaging" "not run: $(tail -n 1 "$logs/imaging.log")"
  fi
fi

if [[ $skip != *" memory "* ]]; then
  echo "== memory (bench/ntfs_memory.sh)" >&2
  if WORKDIR=$work bash "$root/bench/ntfs_memory.sh" "$root/build/bench" >"$logs/memory.log" 2>&1; then
    row memory "NTFS listing, 10 000 000 files: peak" \
      "$(awk '/^peak resident/ {printf "%.2f GB", $4 * 1024 / 1e9}' "$logs/memory.log"), $(awk '/^peak per entry/ {print $4}' "$logs/memory.log") bytes per entry"
  else
    row memory "NTFS listing" "not run: $(tail -n 1 "$logs/memory.log")"
  fi
fi

echo
echo "Machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr)"
printf '%-9s %-40s %s\n' "part" "measure" "figure"
printf '%s\n' "${rows[@]}"
echo "(logs in $logs)"
