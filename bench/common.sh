# Sourced by the benchmarks with the release targets they need: builds them, and gives `root`,
# `bin` (the release build), a scratch folder `work` removed on exit, and two timing helpers.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
(cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target "$@" >/dev/null)
bin=$root/build/release
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now_us() { local t=${EPOCHREALTIME/./}; echo "${t#0}"; }
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
