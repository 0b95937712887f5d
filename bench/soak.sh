#!/usr/bin/env bash
# Soak: both windows serve a standing request for the given number of seconds (default 180); the
# run fails if any datagram or serial command arrived torn or merged, if either side stopped
# receiving, or if resident memory grew by 5 MB or more after the first 10 seconds.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/prepare.sh"
build build >/dev/null
QT_QPA_PLATFORM=offscreen "$top/build/bench/bench_windows" --soak "${1:-180}"
