#!/usr/bin/env bash
# Builds, then measures each configuration by one call of bench_windows: the offscreen and the xcb
# platform (xcb under xvfb-run), each on a quiet machine and beside two stress-ng CPU workers at
# nice 10, and xcb beside them with accessibility on as a desktop with a screen reader has it (a
# session bus with the AT-SPI bus started on it), then prints a table of every figure. Options go
# to bench_windows, for example --runs 3 --trials 200 --only rates,latency; BENCH_CONFIGURATIONS
# picks configurations.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/prepare.sh"
install_missing dbus-daemon dbus-bin at-spi2-core
build build >/dev/null
out="$top/build/bench/results"
rm -rf "$out" && mkdir -p "$out"
stress=
trap '[ -z "$stress" ] || kill "$stress" 2>/dev/null' EXIT

# measure PLATFORM[-a11y]-LOAD: one configuration, its figures into $out.
measure() {
    local platform=${1%%-*} load=${1##*-} run=()
    if [ "$load" = stress ]; then
        nice -n 10 stress-ng --cpu 2 --quiet &
        stress=$!
        sleep 2
    fi
    [ "$platform" = xcb ] && run=(xvfb-run -a -s "-screen 0 1280x1024x24")
    # Qt joins the AT-SPI bus only when it is already there, as a desktop session starts it.
    [[ $1 = *-a11y-* ]] && run=(dbus-run-session -- sh -c 'dbus-send --session --print-reply \
        --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null && exec "$@"' sh \
        env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "${run[@]}")
    echo "== $1, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    QT_QPA_PLATFORM=$platform "${run[@]}" "$top/build/bench/bench_windows" "${@:2}" | tee "$out/$1" ||
        echo "bench_windows failed in $1"
    if [ -n "$stress" ]; then
        kill "$stress" && wait "$stress" || true
        stress=
    fi
}

configurations=${BENCH_CONFIGURATIONS:-offscreen-none offscreen-stress xcb-none xcb-stress xcb-a11y-stress}
for configuration in $configurations; do
    measure "$configuration" "$@"
done
cd "$out" && awk '
    FNR == 1 { names[++files] = FILENAME }
    /^#/ || NF != 3 { next }
    !($1 in row) { row[$1] = ++rows; keys[rows] = $1; units[$1] = $3 }
    { value[$1, files] = $2 }
    END {
        printf "\n%-34s", "figure"
        for (f = 1; f <= files; f++) printf " %16s", names[f]
        print ""
        for (r = 1; r <= rows; r++) {
            printf "%-34s", keys[r] " (" units[keys[r]] ")"
            for (f = 1; f <= files; f++) printf " %16s", ((keys[r], f) in value) ? value[keys[r], f] : "-"
            print ""
        }
    }' $configurations
