#!/usr/bin/env bash
# Draws the application icon, the tray image's level meter, as PNG files for
# the desktop's icon theme, at each size the menus ask for. The shapes are
# those of packs/make_packs.sh (and of the scalable veska.svg), scaled from 32 pixels.
# Needs ImageMagick (installed by scripts/setup). The results are committed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

for size in 32 48 64 128; do
  s=$(awk -v n="$size" 'BEGIN { printf "%g", n / 32 }')
  out=$here/icons/hicolor/${size}x${size}/apps
  mkdir -p "$out"
  /usr/bin/convert -size "${size}x${size}" xc:none \
    -draw "scale $s,$s fill #17404a roundrectangle 0,0 31.9,31.9 7,7" \
    -draw "scale $s,$s fill #2a7f8c roundrectangle 2,2 29.9,29.9 5,5" \
    -draw "scale $s,$s fill #e8f6f3 roundrectangle 6,17 9.9,25.9 1,1" \
    -draw "scale $s,$s fill #e8f6f3 roundrectangle 12,8 15.9,25.9 1,1" \
    -draw "scale $s,$s fill #e8f6f3 roundrectangle 18,13 21.9,25.9 1,1" \
    -draw "scale $s,$s fill #ffcf5a roundrectangle 24,5 27.9,25.9 1,1" \
    -strip "PNG32:$out/veska.png"
done
echo "make_icons: icons written"
