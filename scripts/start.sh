#!/usr/bin/env bash
# Installs what is missing, builds, and starts `server`. The request file it watches is
# build/api.txt, next to the executable.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
build build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: starting server on a virtual X display (Xvfb)."
    exec xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "$top/build/server"
fi
exec "$top/build/server"
