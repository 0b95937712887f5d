#!/usr/bin/env bash
# Sourced with the build's wine.env as $1: exports what Wine needs to run the build's programs
# with the DLLs where they were built, and makes the Wine prefix the first time. The prefix maps
# COM1 and COM2 to the two ends of the pseudo-terminal pair that com-ports.sh makes.
source "$1"
# Without .NET and HTML support Wine does not offer to download them when it makes a prefix.
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
WINEPATH=$(printf 'Z:%s;' "${libraries[@]}" | tr / '\\')
export WINEPATH
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
# Headless wherever it runs: the tests use Qt's offscreen platform, and so does CI.
unset DISPLAY WAYLAND_DISPLAY

(
    flock 9
    if [ ! -e "$WINEPREFIX/.morvane-ready" ]; then
        rm -rf "$WINEPREFIX"
        "$wine" wineboot -i >/dev/null 2>&1
        for port in COM1 COM2; do
            "$wine" reg add 'HKLM\Software\Wine\Ports' /v "$port" \
                /d "$comPorts/${port,,}" /f >/dev/null 2>&1
        done
        # Wine makes its COM links from the registry when it starts.
        "$wineserver" -w
        touch "$WINEPREFIX/.morvane-ready"
    fi
) 9>"$WINEPREFIX.lock"
# One Wine session for a whole test run, kept for a minute after its last program, with Wine's
# own services started apart from any test: they would hold on to the test's output, and CTest
# waits for that to close.
"$wineserver" -p60 </dev/null >/dev/null 2>&1 || true
"$wine" cmd /c exit </dev/null >/dev/null 2>&1
