#!/usr/bin/env bash
# Draws the installer window's pictures with ImageMagick and writes them as
# JPEG files beside this script; the build embeds them into the program.
# Run it again after changing a picture here, and commit the .jpg files:
#   app/pictures/make_pictures.sh
set -euo pipefail
cd "$(dirname "$0")"

font=DejaVu-Sans
bold=DejaVu-Sans-Bold
navy='#1d3f73'
accent='#e2761b'
line='#b4b9bf'                      # the thin grey line under the banner
# 4:4:4 keeps the colours' edges where they were drawn, which matters for the
# glyphs' magenta key colour.
jpeg=(-strip -sampling-factor 1x1 -quality 95)

# Image1, 225 x 40: the emblem, "Velmora" and "Server" beside it, on white
# with the grey line along the bottom.
convert -size 225x40 xc:white \
  -fill "$line" -draw "line 0,39 224,39" \
  -fill "$navy" -draw "roundrectangle 6,6 33,33 6,6" \
  -fill '#3f6fb2' -draw "roundrectangle 6,6 33,19 6,6" -draw "rectangle 6,14 33,19" \
  -fill white -draw "polygon 11,11 16,11 20,24 24,11 29,11 22,29 18,29" \
  -fill "$accent" -draw "rectangle 12,31 27,32" \
  -font "$bold" -pointsize 19 -fill "$navy" -annotate +40+27 'Velmora' \
  -font "$font" -pointsize 15 -fill "$accent" -annotate +135+27 'Server' \
  "${jpeg[@]}" logo.jpg

# Image3, 47 x 40: white with the same line, stretched between logo and bar.
convert -size 47x40 xc:white -fill "$line" -draw "line 0,39 46,39" "${jpeg[@]}" filler.jpg

# Image2, 165 x 40: a grey bar whose left end sweeps down in a curve, with a
# light edge along the curve.
convert -size 165x40 xc:white \
  \( -size 40x165 gradient:'#d9dde2'-'#8e969f' -rotate -90 \) \
  \( -size 165x40 xc:black -fill white \
     -draw "path 'M 40,0 L 165,0 L 165,40 L 0,40 C 22,40 18,0 40,0 Z'" \) \
  -composite \
  -fill none -stroke '#eef0f2' -strokewidth 1 \
  -draw "path 'M 2,39 C 23,39 19,1 41,1 L 165,1'" \
  -fill "$line" -stroke none -draw "line 0,39 3,39" \
  "${jpeg[@]}" bar.jpg

# The button glyphs, 16 x 16 on magenta (the bottom-left pixel's colour is
# the transparent one). The disc's edge is drawn without anti-aliasing so no
# pixel is a blend of magenta and the disc.
glyph() {  # glyph OUT RIM BODY SHINE SYMBOL-DRAW-ARGS...
  local out=$1 rim=$2 body=$3 shine=$4
  shift 4
  convert -size 16x16 xc:'#ff00ff' +antialias \
    -fill "$rim" -draw "circle 7.5,7.5 7.5,0.5" \
    -fill "$body" -draw "circle 7.5,7.5 7.5,1.5" \
    -antialias -fill "$shine" -draw "ellipse 7.5,4.5 4.5,2.5 0,360" \
    -stroke white -fill white "$@" \
    -strip -sampling-factor 1x1 -quality 100 "$out"
}
glyph install_glyph.jpg '#1b6b2e' '#2f9a45' '#7fd48d' \
  -strokewidth 0 -draw "rectangle 4,6.5 8,8.5" -draw "polygon 8,3.5 12,7.5 8,11.5"
glyph close_glyph.jpg '#9e1c22' '#d1343a' '#f08a8d' \
  -strokewidth 2 -draw "line 5,5 10,10" -draw "line 10,5 5,10"

# The window's icon, 32 x 32: the emblem alone, drawn large.
convert -size 32x32 xc:white \
  -fill "$navy" -draw "roundrectangle 1,1 30,30 6,6" \
  -fill '#3f6fb2' -draw "roundrectangle 1,1 30,15 6,6" -draw "rectangle 1,10 30,15" \
  -fill white -draw "polygon 6,6 11,6 15.5,21 20,6 25,6 18,26 13,26" \
  -fill "$accent" -draw "rectangle 7,28 24,29" \
  "${jpeg[@]}" icon.jpg

ls -l ./*.jpg
