#!/usr/bin/env bash
# Screenshots of the pages of Kavo.exe under Xvfb, in a wine virtual desktop, into
# docs/screenshots/: the home page, the drive list, the advanced-options page, the drive-health
# page's two tabs, the imaging and cloning pages, the format-selection page, the scan page and
# the results page; and the picture viewer beside Kavo.exe showing a picture made by ImageMagick.
#
#   tools/screenshots.sh [KAVO_EXE]   (default build/win64/src/shell/Kavo.exe)
#
# Needs Xvfb, xdotool, ImageMagick (convert, import), mkfs.fat, mtools and wine64; wine's own
# fonts are unpacked into the scratch prefix from Debian's fonts-wine package (downloaded, not
# installed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
exe=$(realpath "${1:-$root/build/win64/src/shell/Kavo.exe}")
out=$root/docs/screenshots
mkdir -p "$out"
source "$root/tools/wine-env.sh"
display=:97
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  wine_prefix_cleanup
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display

"$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
"$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
fonts=$wine_scratch/fonts
mkdir -p "$fonts"
(cd "$fonts" && apt-get download fonts-wine >/dev/null 2>&1 && dpkg -x fonts-wine_*.deb x) &&
  cp "$fonts"/x/usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/" ||
  echo "fonts-wine not available: text may be missing" >&2
"$WINESERVER" -k >/dev/null 2>&1 || true

"$WINE" "$exe" >/dev/null 2>&1 </dev/null &
window=
for _ in $(seq 1 100); do
  window=$(xdotool search --name '^Kavo$' 2>/dev/null | head -n 1) && [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "Kavo's window did not appear" >&2; exit 1; }
sleep 2
shot() { import -window root -crop 1000x560+0+0 "$out/$1.png"; echo "wrote docs/screenshots/$1.png"; }
xdotool windowmove "$window" 0 0
xdotool mousemove 5 700
sleep 1
shot home
# "Deleted Recovery" (the page's centre + 10 .. + 210): the drive list, once its loader is done.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 500 + 110)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 3
xdotool mousemove 5 700
sleep 1
shot drive-listing
# Home (at the right end of the strip below the title bar), then "Advance Option" (centre + 230).
xdotool mousemove $((X + 1000 - 152 + 35)) $((Y + 38)) click 1
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 500 + 330)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 1
xdotool mousemove 5 700
sleep 1
shot advanced-options
# "Drive Health" (centre + 150 .. + 350), once its loader is done, with the first drive clicked
# (its row just under the drive table's header, below the tabs, 140 pixels down the screen);
# then its "Drive Properties" tab (the second tab, 150 pixels from the left).
xdotool mousemove $((X + 500 + 250)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 3
xdotool mousemove 100 140 click 1
sleep 1
xdotool mousemove 5 700
sleep 1
shot health
xdotool mousemove 150 92 click 1
sleep 1
xdotool mousemove 5 700
sleep 1
shot health-properties
# Home, then "Advance Option" again.
xdotool mousemove $((X + 1000 - 152 + 35)) $((Y + 38)) click 1
sleep 2
xdotool mousemove $((X + 500 + 330)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 1
# The imaging page ("Advance Option" picture centre - 350), once its drive records are loaded;
# then Home, "Advance Option" again and the cloning page (centre - 100).
xdotool mousemove $((X + 500 - 350 + 100)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 4
xdotool mousemove 5 700
sleep 1
shot imaging
xdotool mousemove $((X + 1000 - 152 + 35)) $((Y + 38)) click 1
sleep 2
xdotool mousemove $((X + 500 + 330)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 1
xdotool mousemove $((X + 500 - 100 + 100)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 4
xdotool mousemove 5 700
sleep 1
shot cloning

# The format-selection page: Home, "Deleted Recovery", Load Image (the third button of the
# command bar) with a disk image, Next on its row, Raw Scan in the image dialog. The image is a
# FAT volume holding pictures made by ImageMagick at its start, then zeros to 200 GB (sparse),
# so the scan page stays up long enough to be seen.
mkfs.fat -C -F 32 -n PICTURES "$wine_scratch/disk.img" 65536 >/dev/null
convert rose: -resize 640x480 "$wine_scratch/photo.jpg"
convert logo: -resize 320x240 "$wine_scratch/logo.png"
convert granite: -resize 200x200 "$wine_scratch/granite.bmp"
convert netscape: "$wine_scratch/holiday.jpg"
mcopy -i "$wine_scratch/disk.img" "$wine_scratch"/{photo.jpg,logo.png,granite.bmp,holiday.jpg} ::
truncate -s 200G "$wine_scratch/disk.img"
image="Z:$(echo "$wine_scratch/disk.img" | tr / '\\')"
xdotool mousemove $((X + 1000 - 152 + 35)) $((Y + 38)) click 1
sleep 2
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 500 + 110)) $((Y + 30 + 30 + 40 + 160)) click 1
sleep 3
xdotool mousemove $((X + 10 + 2 * 190 + 90)) $((Y + 68)) click 1
sleep 2
xdotool type --delay 20 "$image"
xdotool key Return
sleep 3
xdotool mousemove $((X + 300)) $((Y + 30 + 30 + 60)) click 1
xdotool key End
xdotool mousemove $((X + WIDTH - 120 + 50)) $((Y + HEIGHT - 18)) click 1
sleep 2
xdotool key Down Return
sleep 2
xdotool mousemove 5 700
sleep 1
shot formats

# Mark All (the command bar's first button), Next: the scan page with its progress; then Cancel
# (where Next was), Yes to the question, and the results page with what was found by then, the
# list showing the pictures of one extension.
xdotool mousemove $((X + 8 + 55)) $((Y + 68)) click 1
sleep 1
xdotool mousemove $((X + WIDTH - 120 + 50)) $((Y + HEIGHT - 18)) click 1
sleep 6
xdotool mousemove 5 700
sleep 1
shot scan
xdotool mousemove $((X + WIDTH - 120 + 50)) $((Y + HEIGHT - 18)) click 1
sleep 2
xdotool key Return
sleep 4
# FileType's expand button, then its first folder (the pictures of one extension).
xdotool mousemove 34 108 click 1
sleep 1
xdotool mousemove 95 124 click 1
sleep 1
xdotool mousemove 5 700
sleep 1
shot results

# The picture viewer, handed a picture as Kavo hands one (tests/pictel_send.exe of the build).
sender=$(dirname "$exe")/../../tests/pictel_send.exe
if [ -f "$sender" ] && [ -f "$(dirname "$exe")/Pictel.exe" ]; then
  convert logo: -resize 480x420 "$wine_scratch/logo.png"
  "$WINE" "$(dirname "$exe")/Pictel.exe" >/dev/null 2>&1 </dev/null &
  viewer=
  for _ in $(seq 1 100); do
    viewer=$(xdotool search --name '^NorvelView$' 2>/dev/null | head -n 1) && [ -n "$viewer" ] && break
    sleep 0.2
  done
  [ -n "$viewer" ] || { echo "the viewer's window did not appear" >&2; exit 1; }
  xdotool windowmove "$viewer" 0 0
  xdotool windowraise "$viewer"
  "$WINE" "$sender" "Z:$(printf '%s' "$wine_scratch/logo.png" | tr / '\\')" >/dev/null 2>&1 </dev/null ||
    echo "the viewer did not take the picture" >&2
  xdotool mousemove 5 700
  sleep 1
  import -window root -crop 500x500+0+0 "$out/viewer.png"
  echo "wrote docs/screenshots/viewer.png"
fi
