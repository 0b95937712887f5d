#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running `server` need, when any is
# missing. Sourced by start.sh and check.sh; run as root (or with sudo at hand).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev qt6-5compat-dev
    libqt6svg6 qt6-qpa-plugins
    libmosquitto-dev libssl-dev mosquitto mosquitto-clients openssl libinih-dev
    fonts-wqy-microhei
    xvfb xauth stress-ng
    dpkg-dev file desktop-file-utils systemd
)

# install_missing PACKAGE...: installs those of the packages that are not installed yet.
install_missing() {
    local package missing=() as_root=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$package")
    done
    ((${#missing[@]})) || return 0
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${as_root[@]}" apt-get update
    "${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
}
install_missing "${packages[@]}"

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# configure DIR [cmake options...]: configures the project into $top/DIR.
configure() {
    local dir=$1
    shift
    cmake -S "$top" -B "$top/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
}

# build DIR [cmake options...]: configures and builds the whole project into $top/DIR.
build() {
    configure "$@"
    cmake --build "$top/$1" -j "$(nproc)"
}
