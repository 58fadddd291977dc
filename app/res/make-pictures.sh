#!/usr/bin/env bash
# Draws the about-window and splash pictures (our own artwork) with ImageMagick.
# The motif: a disc behind a folder closed by a zipper, for "folders to zip,
# zip to disc". The .jpg files are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")"
# The zipper's teeth down the folder's middle, alternating left and right.
teeth() {  # x y0 y1 step
  local x=$1 y=$2 end=$3 step=$4 side=0 out=""
  while [ "$y" -lt "$end" ]; do
    if [ $side = 0 ]; then out+=" -draw 'rectangle $((x-5)),$y $((x-1)),$((y+2))'"; side=1
    else out+=" -draw 'rectangle $((x+1)),$y $((x+5)),$((y+2))'"; side=0; fi
    y=$((y+step))
  done
  echo "$out"
}
# Banner: a dusk gradient, the motif and the product name.
eval convert -size 400x110 gradient:"'#16324f-#3f88c5'" \
  -fill "'#c9d6e3'" -stroke "'#0b1a2a'" -strokewidth 2 -draw "'circle 70,50 70,12'" \
  -fill "'#3f88c5'" -stroke none -draw "'circle 70,50 70,42'" \
  -fill "'#e0a526'" -stroke "'#0b1a2a'" -strokewidth 2 -draw "'polygon 18,44 40,44 46,50 78,50 78,96 18,96'" \
  -fill "'#f2c14e'" -draw "'rectangle 18,54 78,96'" \
  -stroke none -fill "'#0b1a2a'" "$(teeth 48 57 92 5)" \
  -fill "'#0b1a2a'" -draw "'roundrectangle 44,88 52,100 2,2'" \
  -font DejaVu-Sans-Bold -pointsize 40 -fill white -draw "\"text 112,66 'Korvane'\"" \
  -font DejaVu-Sans -pointsize 14 -fill "'#d9e7f5'" -draw "\"text 116,90 'folders to zip, zip to disc'\"" \
  -quality 88 -sampling-factor 2x2 about_banner.jpg
# Logo: the same motif on a light ground.
eval convert -size 96x96 xc:"'#eef3f8'" \
  -fill "'#c9d6e3'" -stroke "'#3f88c5'" -strokewidth 3 -draw "'circle 58,38 58,6'" \
  -fill "'#3f88c5'" -stroke none -draw "'circle 58,38 58,31'" \
  -fill "'#e0a526'" -stroke "'#16324f'" -strokewidth 2 -draw "'polygon 8,38 30,38 36,44 70,44 70,88 8,88'" \
  -fill "'#f2c14e'" -draw "'rectangle 8,48 70,88'" \
  -stroke none -fill "'#16324f'" "$(teeth 39 51 84 5)" \
  -draw "'roundrectangle 35,80 43,92 2,2'" \
  -quality 90 about_logo.jpg
