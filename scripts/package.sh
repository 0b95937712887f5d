#!/usr/bin/env bash
# bash scripts/package.sh [amd64|arm64|armhf]: installs what is missing (for arm64 or armhf, that
# architecture's libraries beside a cross compiler), builds for release without the tests, and
# makes the Debian packages morvane-relay, morvane-server and morvane-common in
# build-package/<architecture>/, checked with lintian. Install with, for example:
#   apt-get install ./build-package/arm64/morvane-relay_*_arm64.deb ./build-package/arm64/morvane-common_*_all.deb
set -euo pipefail
arch=${1:-amd64}
case $arch in
amd64 | arm64 | armhf) ;;
*)
    echo "usage: bash scripts/package.sh [amd64|arm64|armhf]" >&2
    exit 2
    ;;
esac
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
install_for_architecture "$arch"

# dpkg-buildpackage wants debian/ at the top of the source: a tree of links to ours, beside which
# the packages land.
out=$top/build-package/$arch
rm -rf "$out"
tree=$out/morvane
mkdir -p "$tree"
cp -r "$top/packaging/debian" "$tree/debian"
cp "$top/README.md" "$tree/"
for item in CMakeLists.txt packaging src; do
    ln -s "$top/$item" "$tree/$item"
done
(cd "$tree" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
    dpkg-buildpackage -b -us -uc --host-arch "$arch")
lintian --fail-on error,warning "$out"/*.deb
ls "$out"/*.deb
