#!/usr/bin/env bash
# Builds and runs the window benchmark: every figure on the offscreen and the xcb platform (under
# an Xvfb of its own), each with accessibility off and on, printed against its target. Options go
# to bench_windows (--help lists them); for example --platform xcb --accessibility on.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/prepare.sh"
build build
exec "$top/build/bench/bench_windows" "$@"
