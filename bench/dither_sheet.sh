#!/usr/bin/env bash
# Draws a sunset in true colour (a sky from violet to rose, a glowing sun, two hills), imports it
# into a skin folder with each of the four dithers (bmp0 to bmp3: none, floyd-steinberg, ordered,
# refined) and writes their side-by-side preview, the README's picture of the dithers.
# Usage: bench/dither_sheet.sh [OUT.png]   (default: docs/import-dithers.png)
set -euo pipefail
source "$(dirname "$0")/common.sh" skinview
out=$(realpath -m "${1:-$root/docs/import-dithers.png}")
/usr/bin/python3 - "$work/sunset.png" <<'PY'
import math, struct, sys, zlib

def colour(x, y):
    hill = min(y - (96 + 10 * math.sin(x / 11)), y - (110 - 0.4 * abs(x - 90)))
    if hill > 0:
        return (30 + int(hill), 80 + int(hill) + (x + y) % 24, 60)
    glow = max(0.0, 1 - math.hypot(x - 64, y - 50) / 60)
    if math.hypot(x - 64, y - 50) < 18:
        return (255, 244, 170)
    sky = y / 127
    return tuple(min(255, int(a + (b - a) * sky + 120 * glow * glow)) for a, b in ((90, 230), (60, 50), (200, 120)))

rows = b"".join(b"\0" + bytes(c for x in range(128) for c in colour(x, y)) for y in range(128))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 128, 128, 8, 2, 0, 0, 0))
                              + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
PY
mkdir "$work/skin"
for dither in none floyd-steinberg ordered refined; do
    "$bin/skinview" import "$work/sunset.png" --into "$work/skin" --as picture --dither "$dither" >/dev/null
done
"$bin/skinview" preview "$work/skin" --compare --scale 2 -o "$out"
