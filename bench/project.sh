#!/usr/bin/env bash
# Times skinview build of a project of PNG pictures and icons: from nothing, with nothing changed,
# and after one source changed (process start included, median of the runs), and compares the full
# build per image with skinview import of the same sources with the same options.
# Usage: bench/project.sh [ENTRIES] [RUNS]   (default 100 entries, 11 runs)
set -euo pipefail

entries=${1:-100}
runs=${2:-11}
source "$(dirname "$0")/common.sh" skinview skinpack make_skin_folder
skinview=$bin/skinview
project=$work/project

# PNG sources, half 128x128 pictures and half 16x16 icons: a generated skin folder packed and cut
# back into one PNG per image (art/bmp<n>.png, art/icon<nn>.png).
"$bin/make_skin_folder" "$work/bmp" $((entries / 2)) $((entries - entries / 2))
(cd "$work/bmp" && "$bin/skinpack")
"$skinview" unpack "$work/bmp/skin.skn" "$work/bmp" -o "$project/art" >/dev/null
cp "$project/art/bmp0.png" "$work/original.png"
cp "$project/art/bmp1.png" "$work/changed.png"

{
    printf '[defaults]\ndither = "floyd-steinberg"\n'
    for source in "$project"/art/*.png; do
        name=$(basename "$source" .png)
        if [[ $name == bmp* ]]; then table=picture; else table=icon; fi
        printf '\n[[%s]]\nname = "art_%s"\nsource = "art/%s.png"\n' "$table" "$name" "$name"
    done
} >"$project/skin.toml"

# The microseconds that `$@` takes, its output dropped.
timed() {
    local start
    start=$(now_us)
    "$@" >/dev/null || exit 1
    echo $(($(now_us) - start))
}
build() { "$skinview" build "$project" --out "$work/out"; }
import() { "$skinview" import "$project"/art/*.png --into "$work/imported" --dither floyd-steinberg; }

# From nothing, build and import in turn, alternating which goes first, so that neither always
# runs on the quieter machine; then with nothing changed; then after one picture changed
# (two versions of it alternate, so that every run sees a change).
full=() imported=() ratios=() same=() changed=()
for ((run = 0; run < runs; run++)); do
    rm -rf "$work/out" "$work/imported"
    mkdir "$work/imported"
    if ((run % 2 == 0)); then
        build_us=$(timed build) import_us=$(timed import)
    else
        import_us=$(timed import) build_us=$(timed build)
    fi
    full+=("$build_us") imported+=("$import_us")
    ratios+=("$(awk -v b="$build_us" -v i="$import_us" 'BEGIN {printf "%.4f", b / i}')")
done
for ((run = 0; run < runs; run++)); do same+=("$(timed build)"); done
for ((run = 0; run < runs; run++)); do
    if ((run % 2 == 0)); then cp "$work/changed.png" "$project/art/bmp0.png"; else cp "$work/original.png" "$project/art/bmp0.png"; fi
    changed+=("$(timed build)")
done

awk -v f="$(printf '%s\n' "${full[@]}" | median)" -v i="$(printf '%s\n' "${imported[@]}" | median)" \
    -v r="$(printf '%s\n' "${ratios[@]}" | median)" -v s="$(printf '%s\n' "${same[@]}" | median)" \
    -v c="$(printf '%s\n' "${changed[@]}" | median)" -v n="$entries" 'BEGIN {
    printf "%d entries, median of the runs, process start included:\n", n
    printf "  full build   %8.1f ms (%.3f ms per image; import %.3f ms per image, ratio %.2f; target at most 1)\n",
        f / 1000, f / n / 1000, i / n / 1000, r
    printf "  no change    %8.1f ms (target under 20 ms)\n", s / 1000
    printf "  one changed  %8.1f ms (target under 50 ms)\n", c / 1000 }'
