#!/usr/bin/env bash
# Runs one Qt Test program under Wine for CTest: wine-test.sh WINE_ENV PROGRAM [ARGUMENTS...]
# Its output goes to a file, because under Wine it may not reach a pipe; the file is printed
# afterwards, and the program's status returned. A program still running after
# MORVANE_WINE_TIMEOUT seconds (default 120) is stopped, before CTest would stop this script
# unheard.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh" "$1"
program=$2
shift 2

# Wine passes no QT_* variable on to Windows programs, only WINEQT_* ones, renamed.
for name in $(compgen -e QT_ || true); do
    export "WINE$name=${!name}"
done
# Qt's offscreen platform on Windows looks for fonts beside Qt unless told.
export WINEQT_QPA_FONTDIR='Z:\usr\share\fonts'

log=$(mktemp "${TMPDIR:-/tmp}/wine-test.XXXXXX")
trap 'rm -f "$log"' EXIT
status=0
# The program's home: Windows in Simplified Chinese, code page 936.
env LC_ALL=zh_CN.UTF-8 timeout -k 10 "${MORVANE_WINE_TIMEOUT:-120}" \
    "$wine" "$program" "$@" -o "Z:${log//\//\\},txt" || status=$?
cat "$log"
[ "$status" -ne 124 ] || echo "stopped after ${MORVANE_WINE_TIMEOUT:-120} s"
exit "$status"
