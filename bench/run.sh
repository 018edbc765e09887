#!/usr/bin/env bash
# Times skinpack against cat copying the same inputs into one file (the floor for a tool that
# must read every byte), at a quarter, a half and the whole of 2000 pictures and 2000 icons.
# Prints the median time ratio, the cost per image and skinpack's peak memory.
# Usage: bench/run.sh [RUNS]   (needs GNU time at /usr/bin/time for the memory figure)
set -euo pipefail

runs=${1:-9}
source "$(dirname "$0")/common.sh" skinpack make_skin_folder

printf '%8s %12s %10s %8s %10s %14s %12s %12s\n' images skinpack_ms cat_ms ratio us/image peak_KiB skin_KiB budget_KiB
for count in 500 1000 2000; do
    folder=$work/$count
    "$bin/make_skin_folder" "$folder" "$count" "$count"
    cd "$folder"
    inputs=()
    for ((i = 0; i < count; i++)); do inputs+=("bmp$i.bmp"); done
    for ((i = 0; i < count; i++)); do inputs+=("$(printf 'icon%02d.bmp' "$i")"); done

    "$bin/skinpack" && cat "${inputs[@]}" >all.cat # warm the page cache
    skin_times=() cat_times=() ratios=()
    for ((run = 0; run < runs; run++)); do
        # Alternate which goes first, so that neither always pays for the other's writeback.
        if ((run % 2 == 0)); then
            start=$(now_us); "$bin/skinpack"; middle=$(now_us)
            cat "${inputs[@]}" >all.cat; end=$(now_us)
            skin_us=$((middle - start)) cat_us=$((end - middle))
        else
            start=$(now_us); cat "${inputs[@]}" >all.cat; middle=$(now_us)
            "$bin/skinpack"; end=$(now_us)
            cat_us=$((middle - start)) skin_us=$((end - middle))
        fi
        skin_times+=("$skin_us") cat_times+=("$cat_us")
        ratios+=("$(awk -v s="$skin_us" -v c="$cat_us" 'BEGIN {printf "%.4f", s / c}')")
    done
    peak=$(/usr/bin/time -f %M "$bin/skinpack" 2>&1)
    skin_kib=$(($(stat -c %s skin.skn) / 1024))
    skin_us=$(printf '%s\n' "${skin_times[@]}" | median)
    printf '%8d %12.1f %10.1f %8.3f %10.2f %14d %12d %12d\n' $((2 * count)) \
        "$(awk -v t="$skin_us" 'BEGIN {print t / 1000}')" \
        "$(printf '%s\n' "${cat_times[@]}" | median | awk '{print $1 / 1000}')" \
        "$(printf '%s\n' "${ratios[@]}" | median)" \
        "$(awk -v t="$skin_us" -v n=$((2 * count)) 'BEGIN {print t / n}')" \
        "$peak" "$skin_kib" $((skin_kib + 4096))
    cd "$root"
done
echo "Targets: median ratio at most 1.2; peak memory at most the skin's size plus 4 MiB (budget)."
