#!/usr/bin/env bash
# Profiles the windows serving a standing request on the xcb platform (under xvfb-run): perf
# records the soak of bench_windows with DWARF call graphs, since Debian builds Qt without frame
# pointers, then prints the share of each thread, each library, and the functions that take the
# most time with what they call. Usage: bash bench/profile.sh [seconds]; the recording stays in
# build/profile/perf.data. Unwinding DWARF now and then fails for a whole recording: when the
# inclusive list shows no Qt frames, record again.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/prepare.sh"
command -v perf >/dev/null || install_missing linux-perf
build build >/dev/null
out="$top/build/profile"
mkdir -p "$out"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
    perf record -F 499 --call-graph dwarf,16384 -o "$out/perf.data" -- \
    "$top/build/bench/bench_windows" --soak "${1:-30}"
# Only the first lines of each report are wanted: perf ending on a closed pipe is no failure.
set +o pipefail
report() {
    perf report -i "$out/perf.data" --stdio -g none "$@" 2>/dev/null |
        grep -v -E -e '^#' -e '^$' -e '\] 0x[0-9a-f]+( |$)'
}
echo "== share of each thread (bench_windows is the windows' thread)"
report --no-children --sort comm | head -12
echo "== share of each library, windows' thread"
report --no-children --comm bench_windows --sort dso | head -12
echo "== functions with what they call, windows' thread (inclusive, then own)"
report --children --comm bench_windows --sort symbol | head -50
report --no-children --comm bench_windows --sort symbol | head -25
