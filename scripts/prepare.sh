#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running `server` need, when any is
# missing. Sourced by start.sh and check.sh; run as root (or with sudo at hand).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-serialport-dev qt6-5compat-dev
    libqt6svg6 qt6-qpa-plugins
    libmosquitto-dev libssl-dev libsystemd-dev mosquitto mosquitto-clients openssl libinih-dev
    fonts-wqy-microhei
    xvfb xauth stress-ng
    dpkg-dev file desktop-file-utils systemd
    debhelper lintian scdoc
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

# install_for_architecture ARCH: what building for ARCH (amd64, arm64, armhf) needs on top: for
# another architecture than this machine's, Debian's cross compiler, that architecture's -dev
# packages beside ours (multiarch), and qemu to run its programs.
install_for_architecture() {
    local arch=$1 as_root=()
    [ "$arch" != "$(dpkg --print-architecture)" ] || return 0
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        "${as_root[@]}" dpkg --add-architecture "$arch"
        "${as_root[@]}" apt-get update
    fi
    install_missing "crossbuild-essential-$arch" qemu-user-static \
        qt6-base-dev:"$arch" qt6-serialport-dev:"$arch" qt6-5compat-dev:"$arch" \
        libmosquitto-dev:"$arch" libinih-dev:"$arch" libssl-dev:"$arch" libsystemd-dev:"$arch" \
        pkgconf:"$arch"
}

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
