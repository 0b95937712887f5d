#!/usr/bin/env bash
# Profiles the windows during a standing request on the xcb platform: perf records the soak of
# bench_windows (both windows serving api.txt) with DWARF call graphs, since Debian builds Qt
# without frame pointers, then prints the share of each thread, each library, and the functions
# that take the most time with what they call. Usage: bash bench/profile.sh [seconds]
# [accessibility on|off]; the recording stays in build/profile/perf.data.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/prepare.sh"
if ! command -v perf >/dev/null; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get install -y --no-install-recommends linux-perf
fi
build build
seconds=${1:-30}
accessibility=${2:-off}
out="$top/build/profile"
mkdir -p "$out"
perf record -F 499 --call-graph dwarf,16384 -o "$out/perf.data" -- \
    "$top/build/bench/bench_windows" --soak "$seconds" --platform xcb --accessibility "$accessibility"
report() { perf report -i "$out/perf.data" --no-children --stdio -g none "$@" 2>/dev/null | grep -v '^#' | grep -v '^$'; }
echo "== share of each thread (bench_windows is the windows' thread)"
report --sort comm | head -12
echo "== share of each library, windows' thread"
report --comm bench_windows --sort dso | head -12
echo "== functions with what they call, windows' thread (inclusive, then own)"
perf report -i "$out/perf.data" --comm bench_windows --children --sort symbol --stdio -g none \
    2>/dev/null | grep -v '^#' | grep -v ' 0x0000' | grep -v '^$' | head -50
report --comm bench_windows --sort symbol | grep -v ' 0x0000' | head -25
