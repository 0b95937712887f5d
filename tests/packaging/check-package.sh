#!/usr/bin/env bash
# Installs the build tree into a scratch root and builds the Debian package from it, then checks
# what a user's machine would get: the program in a directory of its own, the launchers and the
# desktop entry in the shared places, api.txt linked to the request directory, the relay's service
# (which systemd-analyze must find sound) and settings, and the declared dependencies.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$scratch/root cmake --install "$build" --prefix /usr >/dev/null
cd "$scratch/root/usr"

[ -x lib/morvane/server ] || fail "server is not in lib/morvane"
[ ! -e bin/server ] || fail "a generic 'server' lands in the shared bin directory"
[ "$(readlink bin/morvane-server)" = ../lib/morvane/server ] || fail "launcher link"
[ -x bin/morvane-server ] || fail "launcher does not resolve"
[ -x bin/morvane-listener ] || fail "listener missing"
[ "$(readlink lib/morvane/api.txt)" = /var/lib/morvane/api.txt ] || fail "api.txt link"
[ "$(readlink bin/morvane-relay)" = ../lib/morvane/morvane-relay ] || fail "relay link"
[ "$(ls lib/morvane | sort | tr '\n' ' ')" = "api.txt morvane-relay server " ] \
    || fail "extra files beside server"

unit=lib/systemd/system/morvane-relay.service
grep -qx 'ExecStart=/usr/bin/morvane-relay --config /etc/morvane/relay.conf' "$unit" \
    || fail "the service does not start the relay with its settings"
[ -f ../etc/morvane/relay.conf ] || fail "relay.conf not installed in /etc/morvane"
! grep -qE '^[a-z]' ../etc/morvane/relay.conf || fail "relay.conf sets something: it should only explain"
# systemd-analyze looks for the program on this machine: the copy it checks names the one here.
sed "s|=/usr/bin/morvane-relay|=$PWD/bin/morvane-relay|" "$unit" >"$scratch/morvane-relay.service"
systemd-analyze verify "$scratch/morvane-relay.service" || fail "systemd-analyze verify"

entry=share/applications/morvane-server.desktop
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qx 'Name=Morvane智能硬件服务器端' "$entry" || fail "desktop entry name"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon $icon not installed"
exec=$(sed -n 's/^Exec=//p' "$entry")
[ -e "bin/$exec" ] || fail "desktop entry runs $exec, which is not installed"

cpack --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null
deb=$(ls "$scratch"/package/morvane_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6network6 libqt6serialport6 libqt6core5compat6 \
    qt6-qpa-plugins libqt6svg6 fonts-wqy-microhei; do
    [[ $depends == *"$needed"* ]] || fail "package does not depend on $needed: $depends"
done
postinst=$(dpkg-deb -I "$deb" postinst)
[[ $postinst == *"install -d -o root -g morvane -m 2775 /var/lib/morvane"* ]] \
    || fail "postinst does not make the request directory"
[[ $postinst == *"useradd --system --gid morvane"* ]] || fail "postinst does not make the relay's user"
[ "$(dpkg-deb -I "$deb" conffiles)" = /etc/morvane/relay.conf ] || fail "relay.conf is no conffile"
contents=$(dpkg-deb -c "$deb")
[[ $contents == *"./usr/lib/morvane/api.txt -> /var/lib/morvane/api.txt"* ]] \
    || fail "package lacks the api.txt link"
[[ $contents == *"./usr/lib/systemd/system/morvane-relay.service"* ]] || fail "package lacks the service"
[[ $contents == *"./etc/morvane/relay.conf"* ]] || fail "package lacks relay.conf"
echo "install and package as expected"
