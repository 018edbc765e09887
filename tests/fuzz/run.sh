#!/usr/bin/env bash
# Fuzzes the bitmap checks and conversion for SECONDS (default 110) under ASan and UBSan, then the
# studio's request parser for a sixth of that, from the requests in tests/fuzz/requests/.
# Exits non-zero on any finding; the input that caused it is left in build/fuzz/.
set -euo pipefail
seconds=${1:-110}
cd "$(dirname "$0")/../.."
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
build=build/fuzz
rm -rf "$build/seeds"
"$build/make_fuzz_seeds" "$build/seeds"
mkdir -p "$build/corpus"
"$build/bitmap_fuzzer" -dict=tests/fuzz/bitmap.dict -max_len=20000 -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$build/" "$build/corpus" "$build/seeds" tests/regressions
mkdir -p "$build/request_corpus"
"$build/request_fuzzer" -max_len=20000 -max_total_time="$((seconds / 6 + 1))" -print_final_stats=1 \
    -artifact_prefix="$build/request-" "$build/request_corpus" tests/fuzz/requests
