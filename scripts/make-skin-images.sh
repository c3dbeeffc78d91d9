#!/usr/bin/env bash
# Draws the main window's images into skin/images with ImageMagick. The committed images came
# from this script; run it again after changing a colour or a size here.
set -euo pipefail
cd "$(dirname "$0")/../skin/images"

blue='#3A7BD5'; blue_light='#EAF2FD'; blue_mid='#CFE0F8'
red='#E5484D'; red_light='#FDECEC'; grey='#AEB6C2'; ink='#2B2F36'

# A microphone glyph, centred on (cx, cy), scale s (1 = 56 px tall), in colour c.
mic() { # cx cy s colour
  local cx=$1 cy=$2 s=$3 c=$4
  awk -v cx="$cx" -v cy="$cy" -v s="$s" -v c="$c" 'BEGIN {
    w = 9 * s; h = 30 * s; r = 9 * s; t = 4 * s
    printf "-fill %s -stroke none -draw \"roundrectangle %f,%f %f,%f %f,%f\" ", c, cx-w, cy-28*s, cx+w, cy-28*s+h, r, r
    printf "-fill none -stroke %s -strokewidth %f -draw \"arc %f,%f %f,%f 0,180\" ", c, t, cx-15*s, cy-20*s, cx+15*s, cy+10*s
    printf "-draw \"line %f,%f %f,%f\" ", cx, cy+10*s, cx, cy+20*s
    printf "-draw \"line %f,%f %f,%f\" ", cx-9*s, cy+21*s, cx+9*s, cy+21*s
  }'
}

# Window icon and caption logo: a rounded blue tile with a white microphone.
eval convert -size 256x256 xc:none -fill "'$blue'" -draw "'roundrectangle 8,8 247,247 56,56'" \
  $(mic 128 132 2.9 white) -resize 64x64 logo.png
convert logo.png -resize 24x24 logo-small.png

# Idle picture: a calm blue disc with a microphone, on the white card.
kSize=168
eval convert -size 672x672 xc:white \
  -fill "'$blue_light'" -draw "'circle 336,336 336,36'" \
  -fill "'$blue_mid'" -draw "'circle 336,336 336,96'" \
  -fill "'$blue'" -draw "'circle 336,336 336,156'" \
  $(mic 336 340 4.2 white) -resize ${kSize}x${kSize} recorder-ready.png

# Working animation: the disc turns red and rings run outward, 12 frames of 90 ms.
frames=()
for i in $(seq 0 11); do
  f=$(printf 'frame-%02d.png' "$i")
  args=(-size 672x672 xc:white)
  for k in 0 1 2; do
    # Three rings, a third of a cycle apart, growing from the disc to the edge and fading.
    p=$(awk -v i="$i" -v k="$k" 'BEGIN { x = (i / 12 + k / 3); x -= int(x); print x }')
    r=$(awk -v p="$p" 'BEGIN { printf "%d", 186 + p * 140 }')
    a=$(awk -v p="$p" 'BEGIN { printf "%.2f", 0.55 * (1 - p) }')
    args+=(-fill none -stroke "rgba(229,72,77,$a)" -strokewidth 14 -draw "circle 336,336 336,$((336 - r))")
  done
  args+=(-stroke none -fill "$red_light" -draw "circle 336,336 336,146")
  args+=(-fill "$red" -draw "circle 336,336 336,156")
  eval convert '"${args[@]}"' $(mic 336 340 4.2 white) -resize ${kSize}x${kSize} "$f"
  frames+=("$f")
done
# One shared palette that keeps the card's white exact (a near-white would show as a box).
convert "${frames[@]}" +dither -remap "${frames[0]}" -delay 9 -loop 0 -layers Optimize recorder-working.gif
rm -f "${frames[@]}"

# Status dots: still blue while idle, a blinking red dot while recording (on white).
convert -size 48x48 xc:white -fill "$blue" -draw 'circle 24,24 24,6' -resize 12x12 status-init.png
dots=()
for i in $(seq 0 7); do
  a=$(awk -v i="$i" 'BEGIN { printf "%.2f", 0.35 + 0.65 * (0.5 + 0.5 * cos(i * 3.14159 / 4)) }')
  f=$(printf 'dot-%02d.png' "$i")
  convert -size 48x48 xc:white -fill "rgba(229,72,77,$a)" -draw 'circle 24,24 24,6' -resize 12x12 "$f"
  dots+=("$f")
done
convert -delay 12 -loop 0 "${dots[@]}" status-working.gif
rm -f "${dots[@]}"

# Button glyphs (drawn 4x, scaled down for smooth edges).
convert -size 88x88 xc:none -fill white -draw 'circle 44,44 44,16' -resize 22x22 btn-record.png
convert -size 88x88 xc:none -fill white -draw 'roundrectangle 18,12 36,76 5,5' -draw 'roundrectangle 52,12 70,76 5,5' \
  -resize 22x22 btn-pause.png
convert -size 72x72 xc:none -fill "$ink" -draw 'roundrectangle 14,14 58,58 8,8' -resize 18x18 btn-stop.png
convert -size 72x72 xc:none -fill "$grey" -draw 'roundrectangle 14,14 58,58 8,8' -resize 18x18 btn-stop-disabled.png

# Check mark and combo arrow.
convert -size 48x48 xc:none -fill none -stroke white -strokewidth 6 -draw 'polyline 10,25 20,35 38,14' \
  -resize 12x12 check.png
convert -size 40x24 xc:none -fill none -stroke '#6B7480' -strokewidth 4 -draw 'polyline 6,5 20,19 34,5' \
  -resize 10x6 arrow-down.png

# Minimise glyph beside the shared close glyph (same size and grey).
convert -size 96x96 xc:none -fill '#858C96' -draw 'roundrectangle 26,46 70,50 2,2' -resize 24x24 min.png
