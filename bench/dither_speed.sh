#!/usr/bin/env bash
# Times `skinview import` with each dither against the Floyd-Steinberg import of an earlier build
# (by default c1f36f8, before dithering worked in light), in one run on the same sources, turn
# about, and prints the median cost per image and the ratio to the earlier Floyd-Steinberg; then
# the cost of each dither alone per frame, in one process (bench/dither_time.cpp).
# Usage: bench/dither_speed.sh [IMAGES] [RUNS] [BASE]   (default 300 128x128 PNGs, 5 runs; needs python3-pil)
set -euo pipefail

images=${1:-300}
runs=${2:-5}
base=${3:-c1f36f8}
python=/usr/bin/python3
source "$(dirname "$0")/common.sh" skinview dither_time
trap 'git -C "$root" worktree remove --force "$work/base" 2>/dev/null; rm -rf "$work"' EXIT

git -C "$root" worktree add --detach "$work/base" "$base" >/dev/null 2>&1
(cd "$work/base" && cmake --preset release -DCMAKE_CXX_COMPILER_LAUNCHER="$(command -v ccache || true)" >/dev/null &&
    cmake --build --preset release --target skinview >/dev/null)

# Photographic and interface-like sources alike: gradients, a translucent disc, hard edges, noise.
"$python" - "$work/src" "$images" <<'PY'
import math, os, random, sys
from PIL import Image, ImageDraw
folder, count = sys.argv[1], int(sys.argv[2])
os.makedirs(folder)
random.seed(1)
for n in range(count):
    image = Image.new("RGBA", (128, 128))
    image.putdata([(int(127 + 127 * math.sin((x + n) / 19)), (y * 2 + n) % 256,
                    min(255, (x + y) // 2 + random.randrange(24)), 255) for y in range(128) for x in range(128)])
    draw = ImageDraw.Draw(image)
    draw.ellipse((20 + n % 30, 20, 100, 100), fill=(240, 200, 40, 160))
    draw.rectangle((8, 100, 120, 120), fill=(30, 60, 200, 255))
    image.save(os.path.join(folder, f"art{n:04d}.png"))
PY

time_import() { # BINARY DITHER: microseconds for the whole folder
    rm -rf "$work/out" && mkdir "$work/out"
    local start end
    start=$(now_us)
    "$1" import "$work"/src/*.png --into "$work/out" --as picture --dither "$2" >/dev/null
    end=$(now_us)
    echo $((end - start))
}

contenders=("$work/base/build/release/skinview:floyd-steinberg" "$bin/skinview:floyd-steinberg"
            "$bin/skinview:ordered" "$bin/skinview:refined" "$bin/skinview:none")
declare -A times
for ((run = 0; run < runs; run++)); do
    for ((i = 0; i < ${#contenders[@]}; i++)); do
        # Each run starts with a different contender, so that none always follows the same one.
        contender=${contenders[(i + run) % ${#contenders[@]}]}
        times[$contender]+="$(time_import "${contender%:*}" "${contender##*:}") "
    done
done
base_us=$(printf '%s\n' ${times[${contenders[0]}]} | median)
for contender in "${contenders[@]}"; do
    us=$(printf '%s\n' ${times[$contender]} | median)
    label=$([[ $contender == "$work/base/"* ]] && echo "$base" || echo "this tree")
    awk -v l="$label" -v d="${contender##*:}" -v u="$us" -v b="$base_us" -v n="$images" 'BEGIN {
        printf "%-10s %-16s %8.3f ms per image, ratio %.2f\n", l, d, u / n / 1000, u / b }'
done
echo "Target: every dither but refined at most 1.5 times the earlier build's Floyd-Steinberg."
"$bin/dither_time" 3 "$work"/src/*.png
echo "Target: refined at most 100 ms a 128x128 frame and 5 ms a 16x16 one."
