#!/usr/bin/env bash
# Soak: both windows poll a standing request for the given number of seconds (default 180), and
# everything that reaches the UDP listener and the serial pseudo-terminal is checked to be whole
# commands; the run fails if anything arrived torn or merged, if either side stopped receiving,
# if the process died, or if resident memory grew by 5 MB or more after the first 10 seconds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/prepare.sh"
build build
seconds=${1:-180}
"$top/build/bench/bench_windows" --soak "$seconds" || {
    status=$?
    echo "soak failed: bench_windows ended with status $status" >&2
    exit 1
}
