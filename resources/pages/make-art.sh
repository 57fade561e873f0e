#!/usr/bin/env bash
# Draws the installer pages' own pictures with ImageMagick:
#   tarnwick-emblem.png  583x575  emblem of the online version page
#   logo1.png .. logo3.png 1067x600  pictures shown in turn on the install page
#   firstpage.png        115x67   picture of the guided first page
#   ../icons/tarnwick.png 256x256  the product icon the installer places
# The output is deterministic (no time chunks), so re-running the script
# leaves the committed files unchanged unless the drawing changes.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
thin=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
png_opts=(-depth 8 -define png:exclude-chunks=date,time,tIME +set date:create +set date:modify -strip)

# Emblem: a round tarn under two peaks, on a transparent ground.
convert -size 583x575 xc:none \
  -fill '#1b2a3a' -draw 'circle 291,287 291,22' \
  \( -size 500x500 radial-gradient:'#3f8fd8'-'#0f2238' \) -geometry +41+37 \
  \( -size 583x575 xc:black -fill white -draw 'circle 291,287 291,37' \) \
  -compose over -composite \
  -fill none -stroke '#596df6' -strokewidth 10 -draw 'circle 291,287 291,27' \
  -stroke none \
  -fill '#d8e6f2' -draw 'polygon 120,360 240,150 360,360' \
  -fill '#a9c1d6' -draw 'polygon 230,360 340,190 470,360' \
  -fill '#ffffff' -draw 'polygon 205,212 240,150 275,212 256,200 240,222 224,200' \
  -fill '#f2f7fb' -draw 'polygon 312,234 340,190 368,234 352,226 340,240 328,226' \
  -fill '#2a6fb3' -draw 'ellipse 291,400 175,44 0,360' \
  -fill '#5aa3e6' -draw 'ellipse 291,396 120,22 0,360' \
  -fill '#ffffff' -draw 'rectangle 200,392 260,396' -draw 'rectangle 300,404 380,407' \
  "${png_opts[@]}" tarnwick-emblem.png

# Logo pictures: one landscape each, with the product name and a line of text.
logo() {
  local out=$1 top=$2 bottom=$3 far=$4 near=$5 sun=$6 caption=$7
  convert -size 1067x600 gradient:"$top"-"$bottom" \
    -fill "$sun" -draw 'circle 800,170 800,110' \
    -fill "$far" -draw 'polygon 0,430 160,250 300,380 460,210 640,400 820,260 1067,420 1067,600 0,600' \
    -fill "$near" -draw 'polygon 0,500 220,360 420,470 600,380 800,480 1067,360 1067,600 0,600' \
    -fill '#0d1b2a' -draw 'rectangle 0,540 1067,600' \
    -font "$font" -pointsize 64 -fill white -annotate +70+120 'Tarnwick' \
    -font "$thin" -pointsize 28 -fill '#e6eef5' -annotate +74+170 "$caption" \
    "${png_opts[@]}" "$out"
}
logo logo1.png '#2a5d8f' '#9cc6e8' '#4e6b85' '#2d4357' '#ffd27a' 'Your tools, ready in minutes'
logo logo2.png '#4a2a6f' '#f29b6b' '#6b4a6e' '#3a2a48' '#ffe3a3' 'One installer, every update'
logo logo3.png '#0f3b3a' '#7fc8b5' '#3f6f66' '#22403b' '#f5f5d0' 'Made to stay out of your way'

# First page picture (115x67): the tarn under its peaks at dusk, on a card
# with rounded corners; drawn small as it is carried.
convert -size 115x67 gradient:'#1d3b5c'-'#6fa6d6' \
  -fill '#ffd27a' -draw 'circle 88,16 88,10' \
  -fill '#a9c1d6' -draw 'polygon 8,48 36,18 58,40 76,22 108,48' \
  -fill '#ffffff' -draw 'polygon 30,25 36,18 42,25 38,23 36,27 34,23' \
  -fill '#f2f7fb' -draw 'polygon 71,27 76,22 81,27 78,26 76,29 74,26' \
  -fill '#2a6fb3' -draw 'ellipse 57,53 48,9 0,360' \
  -fill '#5aa3e6' -draw 'ellipse 57,52 30,4 0,360' \
  -fill '#ffffff' -draw 'rectangle 40,51 52,51' -draw 'rectangle 62,54 78,54' \
  \( -size 115x67 xc:none -fill white -draw 'roundrectangle 0,0 114,66 8,8' \) \
  -compose DstIn -composite -type TrueColorAlpha \
  "${png_opts[@]}" firstpage.png

# The product's icon for the applications menu and the desktop entry: the
# emblem on a square ground, at the 256 x 256 size icon themes use.
mkdir -p ../icons
convert tarnwick-emblem.png -background none -gravity center -extent 583x583 \
  -filter Lanczos -resize 256x256 "${png_opts[@]}" ../icons/tarnwick.png
