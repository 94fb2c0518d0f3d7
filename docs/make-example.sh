#!/bin/sh
# Draws a folder of example sprites with ImageMagick and packs them with
# Vintrix into docs/example-sheet.png (the picture in docs/packer.md).
#   docs/make-example.sh [path/to/Vintrix]
set -eu
cd "$(dirname "$0")"
vintrix=$(realpath "${1:-../build/bin/Vintrix}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/sprites"
i=0
for size in 96 80 72 64 64 56 48 48 40 40 32 32 32 24 24 24 16 16; do
  for shape in circle square diamond; do
    i=$((i + 1))
    hue=$(( (i * 37) % 360 ))
    fill="hsl($hue,80%,55%)"
    s=$((size - 1)); h=$((size / 2))
    case $shape in
      circle)  draw="circle $h,$h $h,2" ;;
      square)  draw="roundrectangle 2,2 $((s - 2)),$((s - 2)) 6,6" ;;
      diamond) draw="polygon $h,1 $s,$h $h,$s 1,$h" ;;
    esac
    convert -size ${size}x${size} xc:none -fill "$fill" -stroke black -strokewidth 2 \
      -draw "$draw" "$work/sprites/$(printf '%02d' $i)-$shape.png"
  done
done
(cd "$work" && "$vintrix" 400 400 example 32 1 2 sprites/)
cp "$work/Output/example.png" example-sheet.png
