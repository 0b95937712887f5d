#!/usr/bin/env bash
# CTest fixture: com-ports.sh start|stop WINE_ENV. Joins COM1 and COM2 of the build's Wine prefix
# with a pseudo-terminal pair, so what a program writes on COM1 can be read on COM2.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine.sh" "$2"
pid=$comPorts/socat.pid

stop() {
    [ -e "$pid" ] || return 0
    kill "$(cat "$pid")" 2>/dev/null || true
    rm -f "$pid" "$comPorts/com1" "$comPorts/com2"
}

case $1 in
start)
    stop
    mkdir -p "$comPorts"
    setsid socat pty,raw,echo=0,link="$comPorts/com1" pty,raw,echo=0,link="$comPorts/com2" \
        </dev/null >/dev/null 2>"$comPorts/socat.log" &
    echo "$!" >"$pid"
    for _ in {1..50}; do
        [ -e "$comPorts/com1" ] && [ -e "$comPorts/com2" ] && exit 0
        sleep 0.1
    done
    echo "socat made no pseudo-terminal pair:" >&2
    cat "$comPorts/socat.log" >&2
    exit 1
    ;;
stop) stop ;;
esac
