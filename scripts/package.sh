#!/usr/bin/env bash
# Installs what is missing, builds for release without the tests, and makes the Debian package
# build-package/morvane_<version>_amd64.deb. Install it with: apt-get install ./build-package/morvane_*.deb
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"

build build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr
cpack --config "$top/build-package/CPackConfig.cmake" -B "$top/build-package"
ls "$top"/build-package/morvane_*.deb
