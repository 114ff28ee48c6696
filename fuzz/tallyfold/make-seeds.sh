#!/bin/sh
# Writes a small seed corpus for tallyfold_fuzz into the folder given (ImageMagick and printf).
set -eu
out=${1:?usage: make-seeds.sh <folder>}
mkdir -p "$out"
convert -size 8x4 xc:gray "$out/one.tif"
convert -size 8x4 xc:gray xc:white xc:black -adjoin "$out/three.tif"
convert -size 8x4 xc:gray xc:white -endian MSB -adjoin "$out/bigendian.tif"
convert -size 8x4 xc:gray xc:white -adjoin "TIFF64:$out/bigtiff.tif"
convert -size 8x4 xc:gray -compress lzw "$out/lzw.tif"
printf 'II*\000' > "$out/header-only.tif"
printf 'II*' > "$out/three-bytes.tif"
printf 'MM\000*\000\000\000\010\000\000\000\000\000\000' > "$out/mm-empty-dir.tif"
printf '%%PDF-1.4\n' > "$out/pdf.tif"
