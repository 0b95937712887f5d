#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: once as built for use, and
# once built with AddressSanitizer and UndefinedBehaviorSanitizer, where any report fails the run.
# The tests need no display: widgets run on Qt's offscreen platform. Then the Qt Core tests built
# for arm64 (a Raspberry Pi) under qemu (scripts/cross.sh), and, where Qt for Windows is at hand in
# ../shared/windows/, the Windows build and its tests under Wine (scripts/windows.sh).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"

build build
ctest --test-dir "$top/build" --output-on-failure

build build-sanitize -DMORVANE_SANITIZE=ON
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir "$top/build-sanitize" --output-on-failure

bash "$top/scripts/cross.sh" arm64

if [ -d "$top/../shared/windows" ]; then
    bash "$top/scripts/windows.sh" --test
else
    echo "No ../shared/windows/ (Qt for Windows) here: the Windows build and its tests are left out."
fi
