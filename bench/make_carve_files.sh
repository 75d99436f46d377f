#!/usr/bin/env bash
# Makes real files of the carved formats with the tools that write them, into DIR:
#
#   bench/make_carve_files.sh DIR
#
# A format whose tool is missing is left out with a note on stderr.
set -uo pipefail
dir=${1:?usage: $0 DIR}
mkdir -p "$dir"
cd "$dir" || exit 1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

have() { command -v "$1" >/dev/null 2>&1 || { echo "left out: $1 is not installed" >&2; return 1; }; }
quiet() { "$@" >/dev/null 2>&1 || echo "failed: $*" >&2; }

if have convert; then
  quiet convert -size 1600x1200 plasma:fractal -quality 90 jpg-photo.jpg
  quiet convert -size 400x300 gradient:red-blue png-gradient.png
  quiet convert -size 900x700 xc:gray +noise Random png-noise.png
  quiet convert -size 640x480 plasma: BMP3:bmp-plasma.bmp
  quiet convert -size 500x400 plasma: -compress lzw tif-lzw.tif
  quiet convert -size 300x200 plasma: -define tiff:endian=msb tif-msb.tif
  quiet convert -size 512x512 plasma: -define tiff:tile-geometry=128x128 tif-tiled.tif
fi

if have ffmpeg; then
  v=(-f lavfi -i testsrc=size=320x240:rate=25:duration=3)
  a=(-f lavfi -i sine=frequency=440:duration=3)
  quiet ffmpeg -y "${v[@]}" "${a[@]}" -c:v mpeg4 -vtag XVID -c:a mp3 avi-xvid.avi
  quiet ffmpeg -y "${v[@]}" -c:v mjpeg avi-mjpeg.avi
  quiet ffmpeg -y "${v[@]}" "${a[@]}" -c:v mpeg4 -c:a aac mp4-isom.mp4
  quiet ffmpeg -y "${v[@]}" "${a[@]}" -c:v mpeg4 -c:a aac -movflags +faststart mp4-faststart.mp4
  quiet ffmpeg -y "${v[@]}" -c:v mpeg4 mov-plain.mov
  quiet ffmpeg -y "${a[@]}" -c:a aac m4a-sine.m4a
  quiet ffmpeg -y -f lavfi -i testsrc=size=176x144:rate=15:duration=3 -c:v mpeg4 3gp-small.3gp
  quiet ffmpeg -y "${v[@]}" "${a[@]}" -c:v flv -c:a mp3 -ar 44100 flv-av.flv
  quiet ffmpeg -y "${v[@]}" -c:v wmv2 -c:a wmav2 wmv-video.wmv
  quiet ffmpeg -y "${a[@]}" -c:a wmav2 wma-sine.wma
  quiet ffmpeg -y "${v[@]}" -c:v flv swf-video.swf
  quiet ffmpeg -y "${v[@]}" "${a[@]}" -c:v rv10 -c:a ac3 -f rm rm-video.rm
  quiet ffmpeg -y "${a[@]}" -c:a libvorbis ogg-vorbis.ogg
  quiet ffmpeg -y "${a[@]}" -c:a libopus opus-sine.ogg
  quiet ffmpeg -y "${a[@]}" -c:a libmp3lame -b:a 128k mp3-id3.mp3
  quiet ffmpeg -y "${a[@]}" -c:a libmp3lame -ar 22050 -b:a 64k mp3-mpeg2.mp3
fi
if have sox; then
  quiet sox -n -r 44100 -c 2 wav-tone.wav synth 3 sine 440
  quiet sox -n -r 44100 -c 2 aiff-tone.aiff synth 2 sine 330
  quiet sox -n -r 8000 -c 1 au-tone.au synth 2 sine 550
fi
if have abc2midi; then
  printf 'X:1\nT:Scale\nM:4/4\nL:1/8\nK:C\nCDEF GABc|cBAG FEDC|\n' >"$tmp/tune.abc"
  quiet abc2midi "$tmp/tune.abc" -o mid-tune.mid
fi

# A few hundred KiB of text to fill the documents.
python3 -c "import random; r=random.Random(7); print('\n'.join(' '.join(r.choice(['disk','sector','file','folder','recover','volume','table','cluster']) for _ in range(12)) for _ in range(4000)))" >"$tmp/text.txt"
if have zip; then
  (cd "$tmp" && quiet zip -q -9 "$dir/zip-deflated.zip" text.txt)
  (cd "$tmp" && zip -q - text.txt >"$dir/zip-streamed.zip")
fi
if have fastjar; then (cd "$tmp" && quiet fastjar cf "$dir/jar-text.jar" text.txt); fi
if have chmcmd; then
  mkdir -p "$tmp/chm"
  head -c 20000 "$tmp/text.txt" | sed 's/^/<p>/' >"$tmp/chm/index.html"
  printf '[OPTIONS]\nCompiled file=chm-help.chm\nDefault topic=index.html\nTitle=Kavo\n\n[FILES]\nindex.html\n' \
    >"$tmp/chm/help.hhp"
  (cd "$tmp/chm" && quiet chmcmd help.hhp && cp chm-help.chm "$dir/")
fi
if have 7z; then quiet 7z a -bd "$dir/7z-text.7z" "$tmp/text.txt"; fi
if have gcab; then (cd "$tmp" && quiet gcab -c -z "$dir/cab-text.cab" text.txt); fi
if have gs; then
  printf '%%!PS\n/Helvetica findfont 24 scalefont setfont\n72 700 moveto (Kavo) show showpage\n' >"$tmp/page.ps"
  quiet gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="$dir/pdf-gs.pdf" "$tmp/page.ps"
fi
if have soffice; then
  cp "$tmp/text.txt" "$tmp/doc-writer.txt"
  head -c 20000 "$tmp/text.txt" | tr ' ' ',' >"$tmp/sheet.csv"
  for f in odt docx doc pdf; do
    quiet soffice -env:UserInstallation=file://"$tmp"/profile --headless --convert-to "$f" \
      --outdir "$tmp/out" "$tmp/doc-writer.txt"
  done
  for f in ods xlsx xls; do
    quiet soffice -env:UserInstallation=file://"$tmp"/profile --headless --convert-to "$f" \
      --outdir "$tmp/out" "$tmp/sheet.csv"
  done
  for f in "$tmp"/out/*; do
    [ -f "$f" ] && cp "$f" "$dir/${f##*.}-office.${f##*.}"
  done
fi
printf '<!DOCTYPE html>\n<html><head><title>Kavo</title></head><body>\n%s\n</body></html>\n' \
  "$(head -c 30000 "$tmp/text.txt")" >html-page.html
ls "$dir" | wc -l
