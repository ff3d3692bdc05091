#!/usr/bin/env bash
# Draws QUIL's icon: a white Q on a blue tile, in 16, 32 and 48 pixels, written as a Windows .ico (each
# image a 32-bit bitmap with its alpha, smoothed by 4 samples a pixel).
#   packaging/make-icon.sh OUTPUT.ico
set -euo pipefail
out="$1"
sizes=(16 32 48)
hex=""
# Appends N bytes of V, least significant first.
le() {
  local v=$1 n=$2 i byte
  for ((i = 0; i < n; i++)); do printf -v byte '\\x%02x' $(((v >> (8 * i)) & 255)); hex+=$byte; done
}
# Each pixel takes 4 samples at (x, y), in thousandths of the image (y from the top): on the tile, a
# square with corners rounded by 160, and inside the Q, a ring around (470, 470) and a tail towards the
# lower right.
for s in "${sizes[@]}"; do
  for ((row = s - 1; row >= 0; row--)); do   # bottom-up, as a bitmap is stored
    for ((col = 0; col < s; col++)); do
      tile=0 q=0
      for sub in 1 3; do for sub2 in 1 3; do
        ((x = (4 * col + sub) * 1000 / (4 * s), y = (4 * row + sub2) * 1000 / (4 * s),
          cx = x < 160 ? 160 - x : (x > 840 ? x - 840 : 0), cy = y < 160 ? 160 - y : (y > 840 ? y - 840 : 0),
          on = cx * cx + cy * cy <= 160 * 160, r2 = (x - 470) * (x - 470) + (y - 470) * (y - 470),
          tile += on, q += on && ((r2 <= 300 * 300 && r2 >= 185 * 185) ||
                                  (x - y <= 75 && y - x <= 75 && x + y >= 1080 && x + y <= 1640)), 1))
      done; done
      # Blue #1F5A96 mixed with white by the share of the Q; alpha by the share of the tile (BGRA).
      b=$((0x96 + (255 - 0x96) * q / 4)) g=$((0x5A + (255 - 0x5A) * q / 4)) r=$((0x1F + (255 - 0x1F) * q / 4))
      printf -v pixel '\\x%02x\\x%02x\\x%02x\\x%02x' $b $g $r $((255 * tile / 4))
      hex+=$pixel
    done
  done
  # The AND mask: one bit a pixel, rows of whole 32-bit words, all clear (the alpha decides).
  for ((i = 0; i < s * ((s + 31) / 32) * 4; i++)); do hex+='\x00'; done
  images+=("$hex")
  hex=""
done
# The header, one entry an image, then the images, each behind its BITMAPINFOHEADER.
le 0 2; le 1 2; le ${#sizes[@]} 2
offset=$((6 + 16 * ${#sizes[@]}))
for s in "${sizes[@]}"; do
  bytes=$((40 + s * s * 4 + s * ((s + 31) / 32) * 4))
  le "$s" 1; le "$s" 1; le 0 1; le 0 1; le 1 2; le 32 2; le "$bytes" 4; le "$offset" 4
  offset=$((offset + bytes))
done
head="$hex"
{
  printf '%b' "$head"
  for i in "${!sizes[@]}"; do
    s=${sizes[i]} hex=""
    le 40 4; le "$s" 4; le $((2 * s)) 4; le 1 2; le 32 2; le 0 4; le $((s * s * 4 + s * ((s + 31) / 32) * 4)) 4
    le 0 4; le 0 4; le 0 4; le 0 4
    printf '%b' "$hex${images[i]}"
  done
} > "$out"
