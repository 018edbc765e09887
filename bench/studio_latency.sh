#!/usr/bin/env bash
# Times a save on disk to the studio's page (median of RUNS saves, 60 slots) in headless chromium.
# Usage: bench/studio_latency.sh [RUNS]   (needs chromium, chromium-driver and python3-selenium)
set -euo pipefail
source "$(dirname "$0")/common.sh" skinview
/usr/bin/python3 "$root/bench/studio_latency.py" "$bin/skinview" "${1:-10}"
