#!/usr/bin/env bash
# Measures how close `skinview import` comes to its source on the device, against ImageMagick and
# Pillow remapping the same sources to the 256 device colours. The score (A) is the mean CIEDE2000
# between source and result after a Gaussian blur of one pixel in linear light (what the eye sees
# at the device's pixel size); lower is better. It prints, per class of artwork and dither family,
# our score, the best peer's, and their ratio; then each of our dithers and the best peer on A, on
# A after a blur of two pixels (seen from farther) and on the SSIM of luma (higher is better).
# Usage: bench/quality.sh [FOLDER]   (installs what it needs with apt-get when run as root)
# With FOLDER, the corpus and the peers' results are kept there and reused by the next run.
set -euo pipefail

packages=(imagemagick python3-pil adwaita-icon-theme mate-backgrounds)
missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
    if ((EUID != 0)); then
        echo "quality.sh: install ${missing[*]} first" >&2
        exit 1
    fi
    apt-get update || true # a mirror mid-sync may fail one index; the install can still work
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

source "$(dirname "$0")/common.sh" skinview quality_score
python=/usr/bin/python3
if (($# > 0)); then
    mkdir -p "$1"
    scratch=$work
    work=$(cd "$1" && pwd)
    trap 'rm -rf "$scratch"' EXIT
fi

# The corpus, every source an opaque square at the device's sizes: 16x16 icons, 128x128 icons
# scaled from their large originals, photos cropped square and scaled, and interface art drawn here.
if [[ ! -d $work/corpus ]]; then
convert rose: "$work/rose.png"
"$python" - "$work/corpus" "$work/rose.png" <<'PY'
import glob, math, os, sys
from PIL import Image, ImageDraw, ImageFilter
corpus, rose = sys.argv[1], sys.argv[2]
backgrounds = [(255, 255, 255), (60, 60, 60), (138, 138, 138), (214, 214, 214)]
def save(kind, name, image):
    os.makedirs(os.path.join(corpus, kind), exist_ok=True)
    image.convert("RGB").save(os.path.join(corpus, kind, name + ".png"))
def over(image, background):
    flat = Image.new("RGBA", image.size, background + (255,))
    flat.alpha_composite(image.convert("RGBA"))
    return flat
def spread(paths, count):
    paths = sorted(p for p in paths if "symbolic" not in p)
    return [paths[i * len(paths) // count] for i in range(count)]
for n, path in enumerate(spread(glob.glob("/usr/share/icons/Adwaita/16x16/*/*.png"), 16)):
    save("small", f"icon{n:02d}", over(Image.open(path), backgrounds[n % 4]))
for n, path in enumerate(spread(glob.glob("/usr/share/icons/Adwaita/512x512/*/*.png"), 16)):
    icon = Image.open(path).convert("RGBA").resize((128, 128), Image.LANCZOS)
    save("large", f"icon{n:02d}", over(icon, backgrounds[n % 4]))
photos = sorted(glob.glob("/usr/share/backgrounds/mate/nature/*.jpg"))
photos += ["/usr/share/backgrounds/mate/abstract/Elephants.jpg", rose]
for n, path in enumerate(photos):
    photo = Image.open(path).convert("RGB")
    side = min(photo.size)
    left, top = (photo.width - side) // 2, (photo.height - side) // 2
    save("photo", f"photo{n:02d}", photo.crop((left, top, left + side, top + side)).resize((128, 128), Image.LANCZOS))
# Interface art: grey gradients and panels, bevelled buttons, bars and soft shadows.
def gradient(a, b, vertical=True):
    image = Image.new("RGB", (128, 128))
    pixels = image.load()
    for y in range(128):
        for x in range(128):
            t = (y if vertical else x) / 127
            pixels[x, y] = tuple(round(a[c] + (b[c] - a[c]) * t) for c in range(3))
    return image
save("ui", "grey_ramp", gradient((0, 0, 0), (255, 255, 255), False))
save("ui", "dark_ramp", gradient((20, 20, 24), (90, 90, 96)))
save("ui", "light_ramp", gradient((200, 200, 200), (245, 245, 245)))
save("ui", "sky", gradient((40, 80, 160), (190, 215, 240)))
save("ui", "sunset", gradient((250, 180, 80), (120, 40, 90), False))
radial = Image.new("RGB", (128, 128))
pixels = radial.load()
for y in range(128):
    for x in range(128):
        v = max(0, 200 - int(math.hypot(x - 64, y - 64) * 2))
        pixels[x, y] = (v, v, v + 20 if v < 235 else 255)
save("ui", "radial", radial)
for n, (face, ink) in enumerate([((225, 225, 225), (40, 40, 40)), ((70, 72, 76), (230, 230, 230)),
                                 ((176, 176, 176), (20, 20, 20)), ((52, 101, 164), (255, 255, 255))]):
    image = gradient(tuple(min(255, c + 18) for c in face), tuple(max(0, c - 18) for c in face))
    draw = ImageDraw.Draw(image)
    draw.rectangle((10, 40, 117, 80), fill=(128, 128, 128))
    draw.rectangle((10, 40, 116, 79), fill=tuple(min(255, c + 30) for c in face))
    draw.rectangle((11, 41, 116, 79), fill=face)
    draw.text((24, 54), "Settings", fill=ink)
    draw.rectangle((10, 96, 117, 104), fill=(150, 150, 150))
    draw.rectangle((10, 96, 30 + 25 * n, 104), fill=(90, 140, 200))
    save("ui", f"button{n}", image)
for n, tone in enumerate([(236, 236, 236), (48, 48, 48), (160, 160, 164)]):
    image = Image.new("RGB", (128, 128), tone)
    shadow = Image.new("L", (128, 128), 0)
    ImageDraw.Draw(shadow).rounded_rectangle((24, 28, 108, 108), 10, fill=110)
    shadow = shadow.filter(ImageFilter.GaussianBlur(6))
    image.paste((0, 0, 0), mask=shadow)
    draw = ImageDraw.Draw(image)
    draw.rounded_rectangle((20, 20, 104, 100), 10, fill=tuple(min(255, c + 12) for c in tone),
                           outline=(120, 120, 120))
    draw.line((28, 40, 96, 40), fill=(100, 100, 100))
    for row in range(5):
        draw.text((30, 48 + 10 * row), f"Item {row + 1}", fill=(20, 20, 20) if sum(tone) > 300 else (220, 220, 220))
    save("ui", f"panel{n}", image)
PY
fi

# The device palette for the peers: every pixel byte's colour, as the device shows it.
"$python" - "$work/palette.png" <<'PY'
import sys
from PIL import Image
def level(v, bits):
    return v << 5 | v << 2 | v >> 1 if bits == 3 else v * 0x55
image = Image.new("RGB", (256, 1))
image.putdata([(level(b >> 5, 3), level(b >> 2 & 7, 3), level(b & 3, 2)) for b in range(256)])
image.save(sys.argv[1])
PY

cat >"$work/pillow_remap.py" <<'PY'
import sys
from PIL import Image
palette = Image.open(sys.argv[1]).convert("RGB").getdata()
palette_image = Image.new("P", (1, 1))
palette_image.putpalette([c for colour in palette for c in colour])
source, prefix = Image.open(sys.argv[2]).convert("RGB"), sys.argv[3]
for name, dither in (("fs", Image.Dither.FLOYDSTEINBERG), ("none", Image.Dither.NONE)):
    source.quantize(palette=palette_image, dither=dither).convert("RGB").save(f"{prefix}-pillow-{name}.png")
PY

# Contenders, each with its family: ours first in every family.
contenders=(ours-fs:diffusion im-fs:diffusion im-riemersma:diffusion pillow-fs:diffusion
            ours-ordered:ordered im-o8x8:ordered im-o4x4:ordered im-o3x3:ordered
            ours-none:none im-none:none pillow-none:none ours-refined:refined)
scores=$work/scores.tsv
: >"$scores"
for source in "$work"/corpus/*/*.png; do
    kind=$(basename "$(dirname "$source")")
    out=$work/out/$kind-$(basename "$source" .png)
    mkdir -p "$work/out"
    for dither in none floyd-steinberg ordered refined; do
        short=${dither/floyd-steinberg/fs}
        "$bin/skinview" import "$source" -o "$out-ours-$short.bmp" --dither "$dither" --force >/dev/null
    done
    if [[ ! -f $out-pillow-none.png ]]; then
        convert "$source" -dither FloydSteinberg -remap "$work/palette.png" "$out-im-fs.png"
        convert "$source" -dither Riemersma -remap "$work/palette.png" "$out-im-riemersma.png"
        convert "$source" +dither -remap "$work/palette.png" "$out-im-none.png"
        for map in o8x8 o4x4 o3x3; do
            convert "$source" -ordered-dither "$map,8,8,4" "$out-im-$map.png"
        done
        "$python" "$work/pillow_remap.py" "$work/palette.png" "$source" "$out"
    fi
    results=()
    for contender in "${contenders[@]}"; do
        name=${contender%%:*}
        [[ $name == ours-* ]] && results+=("$out-$name.bmp") || results+=("$out-$name.png")
    done
    paste <(printf '%s\n' "${contenders[@]}") <("$bin/quality_score" "$source" "${results[@]}") |
        sed "s/^/$kind\t/" >>"$scores"
done

"$python" - "$scores" <<'PY'
import collections, sys
totals = collections.defaultdict(list)
for line in open(sys.argv[1]):
    kind, contender, *score = line.split("\t")
    totals[kind, contender].append([float(v) for v in score])
    totals["all", contender].append([float(v) for v in score])
def mean(kind, contender, measure):
    values = totals[kind, contender]
    return sum(v[measure] for v in values) / len(values)
classes = [("small", "small icons"), ("large", "large icons"), ("photo", "photos"), ("ui", "UI art"), ("all", "overall")]
families = ["diffusion", "ordered", "none"]
contenders = sorted({c for _, c in totals})
print(f"{'class':<12} {'family':<10} {'images':>6} {'ours':>7} {'best peer':>9} {'peer':<14} {'ratio':>6}")
for kind, title in classes:
    for family in families:
        scores = {c.split(":")[0]: mean(kind, c, 0) for c in contenders if c.endswith(":" + family)}
        ours = next(v for c, v in scores.items() if c.startswith("ours-"))
        peer, best = min(((c, v) for c, v in scores.items() if not c.startswith("ours-")), key=lambda cv: cv[1])
        count = len(totals[kind, "ours-fs:diffusion"])
        print(f"{title:<12} {family:<10} {count:>6} {ours:>7.3f} {best:>9.3f} {peer:<14} {ours / best:>6.3f}")
print()
print("A: 1 px blur, A2: 2 px blur (lower is better); SSIM of luma (higher is better); best peer by A")
print(f"{'class':<12} {'dither':<16} {'A':>7} {'A2':>7} {'SSIM':>7} {'A / fs':>7} {'A2 / fs':>7}")
for kind, title in classes:
    peers = [c for c in contenders if not c.startswith("ours-")]
    best = min(peers, key=lambda c: mean(kind, c, 0))
    for contender in ["ours-none:none", "ours-fs:diffusion", "ours-ordered:ordered", "ours-refined:refined", best]:
        name = contender.split(":")[0]
        a, a2, ssim = (mean(kind, contender, m) for m in range(3))
        print(f"{title:<12} {name:<16} {a:>7.3f} {a2:>7.3f} {ssim:>7.4f} "
              f"{a / mean(kind, 'ours-fs:diffusion', 0):>7.3f} {a2 / mean(kind, 'ours-fs:diffusion', 1):>7.3f}")
PY
echo "Target: error diffusion and ordered at most 0.90 of the best peer of their family in every class;"
echo "refined at most 0.85 of our floyd-steinberg on A in every class, and no worse on A2 and SSIM."
