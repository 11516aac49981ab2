#!/usr/bin/env bash
# Makes the test pictures in pictures/ with ImageMagick, and for each one ImageMagick's own
# decode as raw RGBA bytes (<name>.rgba), which the decoder tests compare against. The files are
# committed; this script only needs to run again to change them.
set -euo pipefail
cd "$(dirname "$0")/pictures"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The source: a photograph turned upright (46 x 70: odd row lengths in every format), and the
# same with an elliptic alpha cut-out.
convert rose: -rotate 90 "$tmp/rose.png"
convert "$tmp/rose.png" \( +clone -fill black -colorize 100 -fill white \
  -draw "ellipse 23,35 20,32 0,360" -blur 0x2 \) -alpha off -compose copy_opacity -composite \
  "$tmp/rose_alpha.png"

convert "$tmp/rose.png" -monochrome BMP3:bmp_1bit.bmp
convert "$tmp/rose.png" -colors 16 -type palette BMP3:bmp_4bit.bmp
convert "$tmp/rose.png" -colors 200 -type palette -compress none BMP3:bmp_8bit.bmp
convert "$tmp/rose.png" -colors 200 -type palette -compress RLE BMP3:bmp_rle8.bmp
convert "$tmp/rose.png" -define bmp:subtype=RGB565 BMP:bmp_16bit_565.bmp
convert "$tmp/rose.png" -define bmp:subtype=RGB555 BMP:bmp_16bit_555.bmp
convert "$tmp/rose.png" -type truecolor BMP3:bmp_24bit.bmp
convert "$tmp/rose_alpha.png" -type truecoloralpha BMP:bmp_32bit_alpha.bmp
convert "$tmp/rose.png" -quality 92 jpeg_baseline.jpg
convert "$tmp/rose.png" -quality 85 -interlace JPEG jpeg_progressive.jpg
convert "$tmp/rose.png" -colorspace gray -quality 90 jpeg_gray.jpg
convert "$tmp/rose_alpha.png" png_rgba.png
convert "$tmp/rose.png" -colors 60 PNG8:png_palette.png
convert "$tmp/rose_alpha.png" -depth 16 PNG64:png_rgba16.png
convert "$tmp/rose.png" -colors 64 gif_89a.gif
convert "$tmp/rose.png" -colors 64 GIF87:gif_87a.gif
convert "$tmp/rose.png" -colors 64 -interlace GIF gif_interlaced.gif
convert "$tmp/rose_alpha.png" -channel A -threshold 50% +channel -colors 64 gif_transparent.gif
convert "$tmp/rose.png" -colors 200 -type palette PCX:pcx_8bit.pcx
convert "$tmp/rose.png" -type truecolor PCX:pcx_24bit.pcx
# ImageMagick writes no 1-bit PCX: this one is the 1-bit PBM's rows (1 = black there, white in
# PCX) in version 3 (no palette information), coded here in Python; the reference is the PBM's.
convert "$tmp/rose.png" -monochrome "$tmp/mono.pbm"
python3 - "$tmp/mono.pbm" pcx_1bit.pcx <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()
fields, pos = [], 0
while len(fields) < 3:  # "P4", width, height, separated by white space
    while data[pos:pos + 1].isspace(): pos += 1
    start = pos
    while not data[pos:pos + 1].isspace(): pos += 1
    fields.append(data[start:pos])
pos += 1
w, h = int(fields[1]), int(fields[2])
row_bytes = (w + 7) // 8
bytes_per_line = row_bytes + (row_bytes & 1)
header = struct.pack('<BBBBHHHHHH', 0x0A, 3, 1, 1, 0, 0, w - 1, h - 1, 72, 72)
header += bytes(48) + bytes([0, 1]) + struct.pack('<HH', bytes_per_line, 1)
header += bytes(128 - len(header))
out = bytearray(header)
for y in range(h):
    row = bytes(0xFF ^ b for b in data[pos + y * row_bytes:pos + (y + 1) * row_bytes])
    row += b'\xff' * (bytes_per_line - row_bytes)
    i = 0
    while i < len(row):
        n = 1
        while i + n < len(row) and row[i + n] == row[i] and n < 63: n += 1
        if n > 1 or row[i] >= 0xC0: out += bytes([0xC0 | n, row[i]])
        else: out.append(row[i])
        i += n
open(sys.argv[2], 'wb').write(out)
PY
# An icon with three 32-bit sizes (the 32-pixel entry has 0 in its colour-count byte, so the
# last is shown; the tests also patch that byte), and a 48-pixel one of 16 palette colours with
# an AND mask.
convert "$tmp/rose_alpha.png" -define icon:auto-resize=48,32,16 ico_sizes.ico
convert "$tmp/rose_alpha.png" -resize 48x48! -channel A -threshold 50% +channel -colors 16 \
  -type palettealpha -define icon:auto-resize=48 ico_palette.ico
convert "$tmp/rose_alpha.png" -resize 256x256! -define icon:auto-resize=256 ico_png.ico
convert "$tmp/rose_alpha.png" -resize 32x32! -define icon:auto-resize=32 ICO:cur_32.cur
# ImageMagick writes cursors as icons: make it a cursor (type 2) with its hot spot at (3, 5).
printf '\x02' | dd of=cur_32.cur bs=1 seek=2 conv=notrunc status=none
printf '\x03\x00\x05\x00' | dd of=cur_32.cur bs=1 seek=10 conv=notrunc status=none

for f in *.bmp *.jpg *.png *.gif *.pcx; do
  convert "$f[0]" -depth 8 "rgba:${f%.*}.rgba"
done
# The 1-bit PCX against the picture it was made from.
convert "$tmp/mono.pbm" -depth 8 rgba:pcx_1bit.rgba
# For icons the shown entry: the last for ico_sizes (16 pixels), the only one otherwise.
convert "ico_sizes.ico[2]" -depth 8 rgba:ico_sizes.rgba
convert "ico_sizes.ico[1]" -depth 8 rgba:ico_sizes_32.rgba
for f in ico_palette.ico ico_png.ico cur_32.cur; do
  convert "$f[0]" -depth 8 "rgba:${f%.*}.rgba"
done

# An animation of three 20 x 20 frames: red, then a green square over it, then blue.
convert -size 20x20 xc:red -delay 10 \( -size 8x8 xc:lime -repage 20x20+6+6 \) \
  -delay 30 \( -size 20x20 xc:blue \) -loop 0 gif_animated.gif

# Posters of every kind for the screenshots: a 230 x 306 picture like the site's.
convert -size 230x306 gradient:'#203060-#c06040' \( "$tmp/rose_alpha.png" -resize 200% \) \
  -gravity center -composite "$tmp/poster.png"
convert "$tmp/poster.png" -quality 85 poster.jpg
convert "$tmp/poster.png" poster.png
convert "$tmp/poster.png" -type truecolor BMP3:poster.bmp
convert "$tmp/poster.png" -colors 128 poster.gif
convert "$tmp/poster.png" -colors 256 -type palette PCX:poster.pcx
