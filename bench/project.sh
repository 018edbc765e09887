#!/usr/bin/env bash
# Times skinview build of projects of PNG pictures and icons of each size given: from nothing,
# with nothing changed, and after one source changed (process start included, median of the
# runs); compares the full build per image with skinview import of the same sources with the same
# options, and counts the file-status calls of a build with nothing changed (with strace, when
# there is one), so that a cost growing faster than the project shows.
# Usage: bench/project.sh [RUNS] [ENTRIES...]   (default 11 runs; 100, 1000 and 4000 entries)
set -euo pipefail

runs=${1:-11}
shift || true
sizes=("$@")
((${#sizes[@]})) || sizes=(100 1000 4000)
full_runs=$(((runs + 3) / 4)) # a build from nothing and an import each convert every entry
source "$(dirname "$0")/common.sh" skinview skinpack make_skin_folder
skinview=$bin/skinview

# A project of `$1` PNG sources in `$2`, half 128x128 pictures and half 16x16 icons: a generated
# skin folder packed and cut back into one PNG per image (art/bmp<n>.png, art/icon<nn>.png).
make_project() {
    local entries=$1 project=$2 source name table
    "$bin/make_skin_folder" "$work/bmp" $((entries / 2)) $((entries - entries / 2))
    (cd "$work/bmp" && "$bin/skinpack")
    "$skinview" unpack "$work/bmp/skin.skn" "$work/bmp" -o "$project/art" >/dev/null
    rm -rf "$work/bmp"
    {
        printf '[defaults]\ndither = "floyd-steinberg"\n'
        for source in "$project"/art/*.png; do
            name=$(basename "$source" .png)
            if [[ $name == bmp* ]]; then table=picture; else table=icon; fi
            printf '\n[[%s]]\nname = "art_%s"\nsource = "art/%s.png"\n' "$table" "$name" "$name"
        done
    } >"$project/skin.toml"
}

# The microseconds that `$@` takes, its output dropped.
timed() {
    local start
    start=$(now_us)
    "$@" >/dev/null || exit 1
    echo $(($(now_us) - start))
}
build() { "$skinview" build "$project" --out "$work/out"; }
import() { "$skinview" import "$project"/art/*.png --into "$work/imported" --dither floyd-steinberg; }

# The file-status calls of one build with nothing changed; "-" without strace.
stat_calls() {
    command -v strace >/dev/null || { echo -; return; }
    strace -f -c -e trace=%stat,statx,newfstatat,lstat -o "$work/strace" "$skinview" build "$project" \
        --out "$work/out" >/dev/null
    awk '$NF == "total" {print $(NF - 2)}' "$work/strace"
}

# The CPU milliseconds (task-clock) that the program `$@` takes, with perf; "-" without it. On a machine
# that other work keeps busy the time on the clock says little, and this says what build costs.
cpu_ms() {
    command -v perf >/dev/null || { echo -; return; }
    perf stat -x, -e task-clock -o "$work/perf" -- "$@" >/dev/null 2>&1 || { echo -; return; }
    awk -F, '$3 == "task-clock" {print $1}' "$work/perf"
}

# The median of the lines on stdin, or "-" when any is "-".
median_or_none() { awk '$1 == "-" {none = 1} {print} END {exit none}' >"$work/values" && median <"$work/values" || echo -; }

printf '%d runs (%d from nothing), median of the runs, process start included\n' "$runs" "$full_runs"
for entries in "${sizes[@]}"; do
    project=$work/project
    rm -rf "$project" "$work/out"
    make_project "$entries" "$project"
    cp "$project/art/bmp0.png" "$work/original.png"
    cp "$project/art/bmp1.png" "$work/changed.png"

    # From nothing, build and import in turn, alternating which goes first, so that neither always
    # runs on the quieter machine; then with nothing changed; then after one picture changed
    # (two versions of it alternate, so that every run sees a change).
    full=() imported=() ratios=() same=() changed=() same_cpu=() changed_cpu=()
    for ((run = 0; run < full_runs; run++)); do
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
    for ((run = 0; run < runs; run++)); do same+=("$(timed build)") same_cpu+=("$(cpu_ms "$skinview" build "$project" --out "$work/out")"); done
    calls=$(stat_calls)
    for ((run = 0; run < 2 * runs; run++)); do
        if ((run % 2 == 0)); then cp "$work/changed.png" "$project/art/bmp0.png"; else cp "$work/original.png" "$project/art/bmp0.png"; fi
        if ((run < runs)); then changed+=("$(timed build)"); else changed_cpu+=("$(cpu_ms "$skinview" build "$project" --out "$work/out")"); fi
    done

    awk -v f="$(printf '%s\n' "${full[@]}" | median)" -v i="$(printf '%s\n' "${imported[@]}" | median)" \
        -v r="$(printf '%s\n' "${ratios[@]}" | median)" -v s="$(printf '%s\n' "${same[@]}" | median)" \
        -v c="$(printf '%s\n' "${changed[@]}" | median)" -v n="$entries" -v calls="$calls" \
        -v sc="$(printf '%s\n' "${same_cpu[@]}" | median_or_none)" \
        -v cc="$(printf '%s\n' "${changed_cpu[@]}" | median_or_none)" 'BEGIN {
        printf "%d entries:\n", n
        printf "  full build   %8.1f ms (%.3f ms per image; import %.3f ms per image, ratio %.2f; target at most 1)\n",
            f / 1000, f / n / 1000, i / n / 1000, r
        printf "  no change    %8.1f ms (%.1f us per entry; CPU %s ms; %s file-status calls", s / 1000, s / n,
            sc, calls
        if (calls != "-") printf ", %.1f per entry, target at most 10", calls / n
        printf ")\n"
        printf "  one changed  %8.1f ms (%.1f ms more than no change; CPU %s ms)\n", c / 1000, (c - s) / 1000, cc }'
done
echo "targets: no change under 20 ms at 100 entries and 100 ms at 1000; one changed under 50 ms and 150 ms"
