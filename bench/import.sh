#!/usr/bin/env bash
# Times skinview import of PNG artwork with Floyd-Steinberg dithering against a Pillow script
# that does the same quantisation to the device palette, side by side on the same sources.
# Usage: bench/import.sh [IMAGES] [RUNS]   (default 1000 128x128 PNGs, 5 runs; needs python3-pil)
set -euo pipefail

images=${1:-1000}
runs=${2:-5}
python=/usr/bin/python3
source "$(dirname "$0")/common.sh" skinview
skinview=$bin/skinview

# Interface-like sources: soft gradients, a translucent disc and hard edges, each a little different.
"$python" - "$work/src" "$images" <<'PY'
import math, os, sys
from PIL import Image, ImageDraw
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
for n in range(count):
    image = Image.new("RGBA", (128, 128))
    pixels = image.load()
    for y in range(128):
        for x in range(128):
            pixels[x, y] = (int(127 + 127 * math.sin((x + n) / 19)), (y * 2 + n) % 256, (x + y) // 2, 255)
    draw = ImageDraw.Draw(image)
    draw.ellipse((20 + n % 30, 20, 100, 100), fill=(240, 200, 40, 160))
    draw.rectangle((8, 100, 120, 120), fill=(30, 60, 200, 255))
    image.save(os.path.join(folder, f"art{n:04d}.png"))
PY

cat >"$work/pillow_import.py" <<'PY'
import os, sys
from PIL import Image
source, target = sys.argv[1], sys.argv[2]
def level(v, bits):
    return v << 5 | v << 2 | v >> 1 if bits == 3 else v * 0x55
palette = []
for b in range(256):
    palette += [level(b >> 5, 3), level(b >> 2 & 7, 3), level(b & 3, 2)]
palette_image = Image.new("P", (1, 1))
palette_image.putpalette(palette)
for name in sorted(os.listdir(source)):
    art = Image.open(os.path.join(source, name)).convert("RGBA")
    flat = Image.new("RGB", art.size)
    flat.paste(art, mask=art.getchannel("A"))
    flat.quantize(palette=palette_image, dither=Image.Dither.FLOYDSTEINBERG).save(
        os.path.join(target, name[:-4] + ".bmp"))
PY

ours=() theirs=()
for ((run = 0; run < runs; run++)); do
    rm -rf "$work/ours" "$work/theirs"
    mkdir "$work/ours" "$work/theirs"
    start=$(now_us)
    "$skinview" import "$work"/src/*.png --into "$work/ours" --as picture --dither floyd-steinberg >/dev/null
    middle=$(now_us)
    "$python" "$work/pillow_import.py" "$work/src" "$work/theirs"
    end=$(now_us)
    ours+=($((middle - start))) theirs+=($((end - middle)))
done
ours_us=$(printf '%s\n' "${ours[@]}" | median)
theirs_us=$(printf '%s\n' "${theirs[@]}" | median)
awk -v o="$ours_us" -v t="$theirs_us" -v n="$images" 'BEGIN {
    printf "%d sources, median of the runs: skinview %.3f ms per image, Pillow %.3f ms per image, ratio %.2f\n",
        n, o / n / 1000, t / n / 1000, o / t }'
echo "Target: skinview no slower than Pillow per image (ratio at most 1)."
