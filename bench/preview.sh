#!/usr/bin/env bash
# Measures skinview preview's peak memory and time over a large folder at a large scale, where one
# sheet would not fit in memory and the preview must page it.
# Usage: bench/preview.sh [PICTURES] [SCALE]   (default 2000 pictures at scale 16; needs GNU time)
set -euo pipefail

pictures=${1:-2000}
scale=${2:-16}
source "$(dirname "$0")/common.sh" skinview make_skin_folder

"$bin/make_skin_folder" "$work" "$pictures" 0
cd "$work"
/usr/bin/time -f '%M %e' -o time.txt "$bin/skinview" preview --scale "$scale" >pages.txt
read -r peak seconds <time.txt
echo "$pictures pictures at scale $scale: $(wc -l <pages.txt) pages, peak ${peak} KiB, ${seconds} s"
