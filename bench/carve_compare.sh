#!/usr/bin/env bash
# Carves one image of real files of many formats with kavo-cli (every format selected) and with
# photorec, foremost and scalpel (every format each of them knows), all from the page cache, and
# prints each carver's throughput and how many of the placed files it gave back whole.
#
#   bench/carve_compare.sh KAVO_CLI [WORKDIR]
#
# WORKDIR (default /tmp/kavo-carve-bench) keeps the files, the image and the carvers' output.
# KAVO_BENCH_MIB sets the image size (default 2048); PEERS the other carvers to run (default
# "photorec foremost scalpel"; scalpel with every rule is slow). Output lines, one per carver:
#   carve <tool> <seconds> <GB/s> <whole files> <placed files> <files written>
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
cli=$(realpath "${1:?usage: $0 KAVO_CLI [WORKDIR]}")
work=${2:-/tmp/kavo-carve-bench}
mib=${KAVO_BENCH_MIB:-2048}
image=$work/carve.img
peers=" ${PEERS:-photorec foremost scalpel} "
mkdir -p "$work"

if [ ! -d "$work/files" ] || [ -z "$(ls -A "$work/files")" ]; then
  bash "$here/make_carve_files.sh" "$work/files" >/dev/null
fi
if [ ! -f "$image" ] || [ "$(stat -c %s "$image")" -ne $((mib * 1048576)) ]; then
  python3 "$here/make_carve_image.py" "$work/files" "$image" "$mib"
fi
bytes=$(stat -c %s "$image")
cat "$image" >/dev/null  # into the page cache

# seconds of the fastest of RUNS runs of a command
best_of() {
  local runs=$1 best="" start end t
  shift
  for _ in $(seq "$runs"); do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    t=$(echo "$end - $start" | bc -l)
    if [ -z "$best" ] || (($(echo "$t < $best" | bc -l))); then best=$t; fi
  done
  echo "$best"
}

report() {  # tool seconds output-dir
  local counts
  counts=$(python3 "$here/count_recovered.py" "$work/files" "$image.manifest" "$3" 2>"$work/$1.missing")
  printf 'carve %-9s %8.3f %7.2f %s\n' "$1" "$2" "$(echo "$bytes / $2 / 1000000000" | bc -l)" "$counts"
}

# kavo: the scan alone (listing to /dev/null), then a recover for the count.
seconds=$(best_of 3 "$cli" carve "$image" --formats all --json)
rm -rf "$work/kavo"
"$cli" recover "$image" --formats all --out "$work/kavo" --allow-same-device >/dev/null 2>&1 || true
report kavo "$seconds" "$work/kavo"

if [[ $peers == *" photorec "* ]] && command -v photorec >/dev/null; then
  rm -rf "$work/photorec"
  mkdir -p "$work/photorec"
  start=$(date +%s.%N)
  (cd "$work/photorec" && photorec /log /d "$work/photorec/out" /cmd "$image" \
    fileopt,everything,enable,search </dev/null >/dev/null 2>&1) || true
  end=$(date +%s.%N)
  find "$work/photorec" -name report.xml -delete
  report photorec "$(echo "$end - $start" | bc -l)" "$work/photorec"
fi

if [[ $peers == *" foremost "* ]] && command -v foremost >/dev/null; then
  rm -rf "$work/foremost"
  seconds=$(best_of 1 foremost -q -t all -i "$image" -o "$work/foremost")
  rm -f "$work/foremost/audit.txt"
  report foremost "$seconds" "$work/foremost"
fi

if [[ $peers == *" scalpel "* ]] && command -v scalpel >/dev/null && [ -f /etc/scalpel/scalpel.conf ]; then
  # Every rule of the shipped configuration, uncommented.
  sed -E 's/^#([[:space:]]+[a-z0-9]+[[:space:]]+[yYnN][[:space:]])/\1/' /etc/scalpel/scalpel.conf \
    >"$work/scalpel.conf"
  rm -rf "$work/scalpel"
  seconds=$(best_of 1 scalpel -c "$work/scalpel.conf" -o "$work/scalpel" "$image")
  rm -f "$work/scalpel/audit.txt"
  report scalpel "$seconds" "$work/scalpel"
fi
