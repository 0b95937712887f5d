#!/usr/bin/env bash
# Fuzzes the request reader and the command builder with libFuzzer for a bounded time
# (default 60 seconds; pass another number of seconds as the first argument).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/prepare.sh"

extra=()
for package in clang-14 libclang-rt-14-dev; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || extra+=("$package")
done
if ((${#extra[@]})); then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get update
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y --no-install-recommends "${extra[@]}"
fi

seconds=${1:-60}
CXX=clang++-14 cmake -S "$top" -B "$top/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_FUZZ=ON
cmake --build "$top/build-fuzz" --target fuzz_request -j "$(nproc)"

corpus="$top/build-fuzz/corpus"
mkdir -p "$corpus"
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    "$top/build-fuzz/fuzz/fuzz_request" "$corpus" "$top/fuzz/seeds" \
    -max_total_time="$seconds" -max_len=20000 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
echo "Fuzzing ended after ${seconds} s with no crash, no sanitizer report and every command valid."
