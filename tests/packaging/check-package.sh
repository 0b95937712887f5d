#!/usr/bin/env bash
# Installs the build tree into a scratch root and packs it into the Debian packages, then checks
# what a user's machine would get: the program in a directory of its own, the launchers, manual
# pages and desktop entry in the shared places, api.txt linked to the request directory, the
# relay's service and its template (which systemd-analyze must find sound and rate at 1.2 or
# better) and settings; then the three packages: who ships what, what each depends on, the
# settings kept from the request writers, and lintian without an error or a warning.
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
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
for page in man1/morvane-relay.1 man1/morvane-listener.1 man1/morvane-server.1 \
    man5/morvane-relay.conf.5; do
    [ -s "share/man/$page" ] || fail "manual page $page missing"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "share/man/$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "manual page $page: $warnings"
done

units=../lib/systemd/system
unit=$units/morvane-relay.service
grep -qx 'ExecStart=/usr/bin/morvane-relay --config /etc/morvane/relay.conf' "$unit" \
    || fail "the service does not start the relay with its settings"
grep -qx 'ExecStart=/usr/bin/morvane-relay --config /etc/morvane/relay-%i.conf --instance %i' \
    "$units/morvane-relay@.service" || fail "the template does not start the relay with its settings"
[ "$(diff "$unit" "$units/morvane-relay@.service" | grep -c '^>')" = 3 ] \
    || fail "the template differs from the service in more than its name, settings and state"
for line in 'Type=notify' 'NotifyAccess=main' 'ExecReload=/usr/bin/morvane-relay --reload $MAINPID' \
    'WatchdogSec=30'; do
    grep -qxF "$line" "$unit" || fail "the service lacks $line"
done
for class in ttyS ttyUSB ttyACM ttyAMA rfcomm; do
    grep -qx "DeviceAllow=char-$class rw" "$unit" || fail "the service cannot open $class devices"
done
[ -f ../etc/morvane/relay.conf ] || fail "relay.conf not installed in /etc/morvane"
! grep -qE '^[a-z]' ../etc/morvane/relay.conf || fail "relay.conf sets something: it should only explain"
# systemd-analyze looks for the program and the manual pages on this machine: the copy it checks
# names the program here, and man looks here. The template is checked as an instance of it.
for name in morvane-relay morvane-relay@try; do
    sed "s|=/usr/bin/morvane-relay|=$PWD/bin/morvane-relay|" "$units/${name%try}.service" \
        >"$scratch/$name.service"
    MANPATH=$PWD/share/man systemd-analyze verify "$scratch/$name.service" \
        || fail "systemd-analyze verify $name"
    exposure=$(systemd-analyze security --offline=true "$scratch/$name.service" 2>&1 |
        sed -n 's/^→ Overall exposure level for .*: \([0-9.]*\) .*/\1/p')
    awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 1.2) }' \
        || fail "$name's exposure is ${exposure:-unknown}, over 1.2"
done

entry=share/applications/morvane-server.desktop
desktop-file-validate "$entry" || fail "desktop entry does not validate"
grep -qx 'Name=Morvane智能硬件服务器端' "$entry" || fail "desktop entry name"
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -f "share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "icon $icon not installed"
exec=$(sed -n 's/^Exec=//p' "$entry")
[ -e "bin/$exec" ] || fail "desktop entry runs $exec, which is not installed"

# The packages, made by the Debian packaging from this build tree, as scripts/package.sh lays it.
tree=$scratch/package/morvane
mkdir -p "$tree"
cp -r "$top/packaging/debian" "$top/README.md" "$tree/"
(cd "$tree" && MORVANE_BUILT=$build DEB_BUILD_OPTIONS="nocheck noautodbgsym" \
    dpkg-buildpackage -b -us -uc >"$scratch/build.log" 2>&1) || { cat "$scratch/build.log"; fail "dpkg-buildpackage"; }
cd "$scratch/package"
arch=$(dpkg --print-architecture)
relay=morvane-relay_1.0.0-1_$arch.deb server=morvane-server_1.0.0-1_$arch.deb
common=morvane-common_1.0.0-1_all.deb
[ "$(ls ./*.deb | sort | tr '\n' ' ')" = "./$common ./$relay ./$server " ] \
    || fail "packages made: $(ls ./*.deb)"

files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }'; }
shipped=$(for deb in "$relay" "$server" "$common"; do files "$deb"; done | sort)
[ -z "$(uniq -d <<<"$shipped")" ] || fail "shipped by two packages: $(uniq -d <<<"$shipped")"
declare -A owner=(
    [./usr/lib/morvane/morvane-relay]=$relay [./usr/bin/morvane-relay]=$relay
    [./usr/bin/morvane-listener]=$relay [./lib/systemd/system/morvane-relay.service]=$relay
    [./lib/systemd/system/morvane-relay@.service]=$relay
    [./etc/morvane/relay.conf]=$relay [./usr/share/man/man5/morvane-relay.conf.5.gz]=$relay
    [./usr/lib/morvane/server]=$server [./usr/bin/morvane-server]=$server
    [./usr/share/applications/morvane-server.desktop]=$server
    [./usr/share/icons/hicolor/scalable/apps/morvane-server.svg]=$server
    [./usr/lib/morvane/api.txt]=$common [./usr/share/doc/morvane-common/README.md.gz]=$common
)
for path in "${!owner[@]}"; do
    files "${owner[$path]}" | grep -qx "$path" || fail "${owner[$path]} lacks $path"
done

depends() { dpkg-deb -f "$1" Depends | tr -d ' ' | tr ',|' '\n\n' | sed 's/(.*//'; }
for needed in libqt6core6 libqt6network6 libqt6serialport6 libqt6core5compat6 libmosquitto1 \
    libssl3 libsystemd0 morvane-common; do
    depends "$relay" | grep -qx "$needed" || fail "morvane-relay does not depend on $needed"
done
for unwanted in libqt6gui6 libqt6widgets6 qt6-qpa-plugins libqt6svg6 fonts-wqy-microhei; do
    ! depends "$relay" | grep -qx "$unwanted" || fail "morvane-relay depends on $unwanted"
done
for needed in libqt6widgets6 qt6-qpa-plugins libqt6svg6 fonts-wqy-microhei morvane-common; do
    depends "$server" | grep -qx "$needed" || fail "morvane-server does not depend on $needed"
done
for deb in "$relay" "$server" "$common"; do
    for field in Breaks Replaces; do
        [ "$(dpkg-deb -f "$deb" $field)" = "morvane (<< 1.0.0-1~)" ] \
            || fail "$deb does not take over from the single package morvane ($field)"
    done
done

[ "$(dpkg-deb -I "$relay" conffiles)" = /etc/morvane/relay.conf ] || fail "relay.conf is no conffile"
postinst=$(dpkg-deb -I "$relay" postinst)
[[ $postinst == *"dpkg-statoverride --update --add root morvane-relay 0640 /etc/morvane/relay.conf"* ]] \
    || fail "relay.conf is not kept from the group morvane"
[[ $postinst == *"useradd --system --gid morvane-relay"* ]] || fail "postinst does not make the relay's user"
[[ $(dpkg-deb -I "$common" postinst) == *"install -d -o root -g morvane -m 2775 /var/lib/morvane"* ]] \
    || fail "postinst does not make the request directory"
for deb in "$relay" "$server" "$common"; do
    for script in postinst prerm postrm; do
        ! dpkg-deb -I "$deb" "$script" 2>/dev/null | grep -v 'systemctl --system daemon-reload' |
            grep -q systemctl || fail "$deb's $script calls systemctl"
    done
done

lintian --fail-on error,warning "$relay" "$server" "$common" || fail "lintian"
echo "install and packages as expected"
