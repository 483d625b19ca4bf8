#!/usr/bin/env bash
# Draws the Windows program's icons and writes them as .ico files next to
# this script (run by hand; the results are committed so that the build
# needs neither ImageMagick nor icoutils):
#   main.ico    icon 128: 32x32 and 16x16, a chip with a down arrow
#   large.ico   icon 131: 16x16 and 32x32, the chip on a blue tile
#   browse.ico  icon 132: 16x16, an open folder
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# chip SIZE BACKGROUND OUT: a dark chip with gold pins and a green arrow.
chip() {
  local s=$1 bg=$2 out=$3
  if [ "$s" -eq 32 ]; then
    convert -size 32x32 "xc:$bg" \
      -fill '#c8a030' \
      -draw 'rectangle 9,3 10,28' -draw 'rectangle 14,3 15,28' -draw 'rectangle 19,3 20,28' -draw 'rectangle 24,3 25,28' \
      -draw 'rectangle 3,9 28,10' -draw 'rectangle 3,14 28,15' -draw 'rectangle 3,19 28,20' -draw 'rectangle 3,24 28,25' \
      -fill '#303848' -stroke '#101418' -draw 'roundrectangle 6,6 25,25 3,3' -stroke none \
      -fill '#40c060' -draw 'rectangle 14,9 17,17' -draw 'polygon 10,16 21,16 15.5,22' \
      "PNG32:$out"
  else
    convert -size 16x16 "xc:$bg" \
      -fill '#c8a030' \
      -draw 'rectangle 5,1 5,14' -draw 'rectangle 8,1 8,14' -draw 'rectangle 11,1 11,14' \
      -draw 'rectangle 1,5 14,5' -draw 'rectangle 1,8 14,8' -draw 'rectangle 1,11 14,11' \
      -fill '#303848' -draw 'rectangle 3,3 12,12' \
      -fill '#40c060' -draw 'rectangle 7,4 8,8' -draw 'polygon 5,8 10,8 7.5,11' \
      "PNG32:$out"
  fi
}

chip 32 none "$tmp/main32.png"
chip 16 none "$tmp/main16.png"
icotool -c -o main.ico "$tmp/main32.png" "$tmp/main16.png"

chip 16 '#2a6cb8' "$tmp/large16.png"
chip 32 '#2a6cb8' "$tmp/large32.png"
icotool -c -o large.ico "$tmp/large16.png" "$tmp/large32.png"

convert -size 16x16 xc:none \
  -fill '#b08020' -draw 'polygon 1,3 6,3 7,5 14,5 14,13 1,13' \
  -fill '#f0c850' -draw 'polygon 3,7 15,7 13,13 1,13' \
  "PNG32:$tmp/browse16.png"
icotool -c -o browse.ico "$tmp/browse16.png"

icotool -l main.ico large.ico browse.ico
