#!/usr/bin/env bash
# Draws the skin pictures of Kavo.exe with ImageMagick into src/shell/res/skin/: the four faces
# of the program's buttons (normal, hover, pressed, disabled), the pictures of the seven option
# buttons of the home and advanced-options pages, and the background of those pages. Run again
# after changing the drawing; the PNG files are committed so that builds need no ImageMagick.
#
# The button faces are stretched over buttons of every size, keeping their 6-pixel rim: the
# rounded corners and the border lie wholly inside that rim.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$root/src/shell/res/skin
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

blue='#16499A'    # RGB(22, 73, 154), the face of every button
accent='#2EBBFF'  # RGB(46, 187, 255), the rim of a hovered or pressed button
grey='#2D2D2D'    # RGB(45, 45, 45), a pressed button
gold='#FFC400'    # the emblems of the option pictures

# face NAME TOP BOTTOM BORDER SHINE: a 96 x 40 rounded face, a vertical gradient from TOP to
# BOTTOM with a 2-pixel BORDER and a one-pixel SHINE line under its top edge.
face() {
  convert -size 92x36 "gradient:$2-$3" \
    \( -size 92x36 xc:black -fill white -draw 'roundrectangle 0,0 91,35 3,3' \) \
    -alpha off -compose CopyOpacity -composite -compose Over \
    -background none -gravity center -extent 96x40 \
    -fill none -stroke "$4" -strokewidth 2 -draw 'roundrectangle 1,1 94,38 4,4' \
    -stroke "$5" -strokewidth 1 -draw 'line 5,3.5 90,3.5' \
    "PNG32:$out/button-$1.png"
}
face normal '#2A62BE' "$blue" '#0F3575' '#4F84D8'
face hover '#2C68C8' '#1A52AA' "$accent" '#63A8F0'
face pressed '#3A3A3A' "$grey" "$accent" '#2D2D2D'
face disabled '#5C6F8F' '#4D5E7C' '#3C4B66' '#6A7D9C'

# The option pictures: 176 x 246, transparent, drawn onto the button face above its caption.
# drive X Y: the primitives of a 120 x 150 drive seen from above with its top left at X,Y.
drive() {
  local x=$1 y=$2
  echo "push graphic-context translate $x,$y
    fill '#0B2E66' stroke none roundrectangle 4,6 124,156 14,14
    fill '#3F6FC0' stroke white stroke-width 3 roundrectangle 0,0 120,150 14,14
    fill '#C9D6EC' stroke white stroke-width 2 circle 60,62 60,16
    fill none stroke '#A9BAD8' stroke-width 1 circle 60,62 60,26 circle 60,62 60,36
    fill '#2D2D2D' stroke none circle 60,62 60,54
    stroke '#2D2D2D' stroke-width 5 stroke-linecap round line 104,134 78,86
    fill '#2D2D2D' stroke none circle 104,134 104,126
    fill white circle 14,14 14,11 circle 106,14 106,11 circle 14,136 14,133 pop graphic-context"
}
# badge X Y: a gold disc of radius 30 centred on X,Y for an emblem.
badge() {
  echo "fill '#0B2E66' stroke none circle $(($1 + 2)),$(($2 + 3)) $(($1 + 2)),$(($2 - 27))
    fill '$gold' stroke white stroke-width 3 circle $1,$2 $1,$(($2 - 30))"
}
option() {
  convert -size 176x246 xc:none -draw "$2" "PNG32:$out/option-$1.png"
}
ink="fill none stroke '$blue' stroke-width 6 stroke-linecap round stroke-linejoin round"

# Partition Recovery: the platter cut in slices, and the lens that looks for the lost ones.
option partition "$(drive 28 30)
  fill '$gold' stroke white stroke-width 2 path 'M 88,92 L 88,46 A 46,46 0 0,1 134,92 Z'
  stroke white stroke-width 2 line 88,92 56,126 line 88,92 42,92
  $(badge 138 196) $ink circle 134,192 134,181 line 142,200 151,209"
# Formatted Recovery: fresh file-system lines and the arrow of a return.
option formatted "$(drive 28 30) $(badge 138 196)
  $ink line 124,186 152,186 line 124,196 152,196 line 124,206 146,206"
# Deleted Recovery: the arrow of a file brought back.
option deleted "$(drive 28 30) $(badge 138 196)
  $ink path 'M 124,206 A 15,15 0 1,1 152,200'
  fill '$blue' stroke none polygon 114,198 134,198 124,214"
# Advance Option: a gear.
gear=$(for k in 0 1 2 3 4 5 6 7; do
  awk -v k="$k" 'BEGIN { a = k * 3.14159265 / 4; printf "line %.1f,%.1f %.1f,%.1f ",
    138 + 10 * cos(a), 196 + 10 * sin(a), 138 + 20 * cos(a), 196 + 20 * sin(a) }'
done)
option advance "$(drive 28 30) $(badge 138 196)
  fill none stroke '$blue' stroke-width 6 stroke-linecap butt $gear
  fill '$gold' stroke '$blue' stroke-width 5 circle 138,196 138,184"
# Disk Imaging: the drive and, beside it, the image file it is copied into.
option imaging "$(drive 10 30)
  fill '#0B2E66' stroke none polygon 112,140 156,140 170,154 170,222 112,222
  fill white stroke '#0B2E66' stroke-width 2 polygon 108,136 152,136 166,150 166,218 108,218
  fill '#C9D6EC' polygon 152,136 152,150 166,150
  fill '$gold' stroke none roundrectangle 116,166 158,208 4,4
  fill '$blue' font-size 16 font DejaVu-Sans-Bold text 120,193 'IMG'
  fill none stroke '$gold' stroke-width 6 stroke-linecap round line 80,186 104,186
  fill '$gold' stroke none polygon 100,176 114,186 100,196"
# Disk Cloning: two drives, the second a copy of the first.
option cloning "$(drive 48 12) $(drive 8 84) $(badge 140 196) $ink
  roundrectangle 122,180 144,202 3,3 fill '$gold' roundrectangle 132,190 154,212 3,3"
# Drive Health: the drive and a pulse line.
option health "$(drive 28 30) $(badge 138 196)
  $ink polyline 118,198 128,198 133,184 142,212 147,198 158,198"

# The background of the pages of option buttons: a pale vertical gradient.
convert -size 64x256 'gradient:#F3F6FB-#DCE5F2' "PNG24:$out/page-background.png"

# Small files: the pictures are stored without their creation times.
for f in "$out"/*.png; do
  mogrify -strip -define png:exclude-chunks=date,time "$f"
done
echo "wrote $(ls "$out" | wc -l) pictures into src/shell/res/skin/"
