#!/usr/bin/env bash
# Draws the two about-window pictures (our own artwork) with ImageMagick.
# The .jpg files are committed; run this only to change them.
set -euo pipefail
cd "$(dirname "$0")"
# Banner: a dusk gradient, a stylised archive box and the product name.
convert -size 400x110 gradient:'#16324f-#3f88c5' \
  -fill '#f2c14e' -stroke '#0b1a2a' -strokewidth 2 -draw 'roundrectangle 22,22 86,88 8,8' \
  -fill '#0b1a2a' -stroke none -draw 'rectangle 50,22 58,88' \
  -fill '#f2c14e' -draw 'rectangle 44,48 64,60' \
  -font DejaVu-Sans-Bold -pointsize 40 -fill white -draw "text 104,66 'Korvane'" \
  -font DejaVu-Sans -pointsize 14 -fill '#d9e7f5' -draw "text 108,90 'folders to zip, zip to disc'" \
  -quality 88 -sampling-factor 2x2 about_banner.jpg
# Logo: a disc with a zip tooth pattern across it.
convert -size 96x96 xc:'#eef3f8' \
  -fill '#c9d6e3' -stroke '#3f88c5' -strokewidth 3 -draw 'circle 48,48 48,6' \
  -fill '#eef3f8' -stroke '#3f88c5' -strokewidth 2 -draw 'circle 48,48 48,38' \
  -stroke '#16324f' -strokewidth 4 \
  -draw 'line 20,30 28,30' -draw 'line 24,40 32,40' -draw 'line 20,50 28,50' -draw 'line 24,60 32,60' -draw 'line 20,70 28,70' \
  -quality 90 about_logo.jpg
