#!/usr/bin/env bash
# Installs what is missing, builds the two programs, and starts `server`. The request file it
# watches is build/api.txt, next to the executable.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
configure build
cmake --build "$top/build" -j "$(nproc)" --target server morvane-listener

cleanup=()
trap 'for step in "${cleanup[@]}"; do eval "$step"; done' EXIT
# Qt wants a private runtime directory, which a root shell or a bare console does not have.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
    cleanup+=('rm -rf "$XDG_RUNTIME_DIR"')
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    display=99
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    Xvfb ":$display" -screen 0 1280x800x24 -dpi 96 -nolisten tcp 2>/dev/null &
    cleanup+=("kill $!")
    export DISPLAY=":$display"
    for _ in $(seq 100); do
        [ -e "/tmp/.X11-unix/X$display" ] && break
        sleep 0.1
    done
    cat <<MESSAGE
No display found: server runs on the virtual X display $DISPLAY (Xvfb), which nobody sees.
From another terminal, to look at it and to click on it (apt-get install imagemagick xdotool):
  import -display $DISPLAY -window root server.png
  DISPLAY=$DISPLAY xdotool mousemove 120 110 click 1
Press Ctrl-C here to end it.
MESSAGE
fi
"$top/build/server"
