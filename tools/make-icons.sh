#!/usr/bin/env bash
# Draws the program icon with ImageMagick (src/shell/res/kavo.ico: 16, 32, 48 and 256 pixels):
# a blue drive with a yellow arrow of return. Run again after changing the drawing; the icon
# file is committed so that builds need no ImageMagick.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert -size 256x256 xc:none \
  -fill '#16499A' -stroke white -strokewidth 8 -draw 'roundrectangle 28,40 228,216 28,28' \
  -fill '#BECDE6' -stroke white -strokewidth 6 -draw 'circle 128,118 128,58' \
  -fill '#3C3C3C' -stroke none -draw 'circle 128,118 128,106' \
  -fill none -stroke '#FFC400' -strokewidth 14 -draw 'arc 70,140 186,236 200,340' \
  -fill '#FFC400' -stroke none -draw 'polygon 58,176 94,176 76,204' \
  "$work/kavo-256.png"
for s in 16 32 48; do convert "$work/kavo-256.png" -resize ${s}x${s} "$work/kavo-$s.png"; done
convert "$work/kavo-16.png" "$work/kavo-32.png" "$work/kavo-48.png" "$work/kavo-256.png" \
  "$root/src/shell/res/kavo.ico"
