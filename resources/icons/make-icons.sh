#!/bin/sh
# Draws the program's icon (a line that splits into two routes, on a rounded
# teal tile) at 256 px, scales it to the four sizes of the window icon and
# packs those into quillon.ico (32 bits per pixel) for the Windows program.
# Needs ImageMagick's `convert`. Run from anywhere; writes beside this script.
set -eu
dir=$(cd "$(dirname "$0")" && pwd)
big=$(mktemp --suffix=.png)
trap 'rm -f "$big"' EXIT

convert -size 256x256 xc:none \
  -fill '#0f766e' -stroke '#0b4f4a' -strokewidth 8 -draw 'roundrectangle 8,8 247,247 44,44' \
  -stroke white -strokewidth 22 -fill none -draw 'stroke-linecap round' \
  -draw 'line 128,214 128,138' \
  -draw 'bezier 128,140 128,100 80,96 72,62' \
  -draw 'bezier 128,140 128,100 176,96 184,62' \
  -stroke none -fill white \
  -draw 'polygon 44,70 72,24 100,70' \
  -draw 'polygon 156,70 184,24 212,70' \
  -fill '#fbbf24' -draw 'circle 128,138 128,120' \
  "PNG32:$big"

for size in 16 24 32 64; do
  convert "$big" -filter Lanczos -resize "${size}x${size}" "PNG32:$dir/quillon-$size.png"
done

# Windows icon resource: the four images, each 32-bit with alpha.
convert "$dir/quillon-16.png" "$dir/quillon-24.png" "$dir/quillon-32.png" "$dir/quillon-64.png" "$dir/quillon.ico"
