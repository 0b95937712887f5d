#!/usr/bin/env bash
# Installs the packages on a fresh Debian 12 (a debootstrap chroot, made once into
# build-chroot/bookworm and copied for each try) and checks that they are usable there:
#  - morvane-relay alone: it installs without any Qt Gui library and runs;
#  - morvane-server alone: the desktop program starts;
#  - all three: the request directory belongs to the group morvane, a member of the group can
#    write a request that the installed server reads but cannot read the relay's settings, both
#    programs start, and the relay stays when the desktop program is removed;
#  - with --from OLD.deb (the single package `morvane` of earlier versions), all three install
#    over it, replacing it, and the edits of /etc/morvane/relay.conf are kept.
# Run as root after scripts/package.sh; needs debootstrap and the network. The chroots take about
# 900 MB and are removed at the end; with --keep they stay, and the next try starts from the kept
# Debian instead of downloading it again.
set -euo pipefail
keep=false
old=
while (($#)); do
    case $1 in
    --keep) keep=true ;;
    --from) old=$(realpath "$2") && shift ;;
    *) echo "usage: try-on-debian.sh [--keep] [--from OLD.deb]" >&2 && exit 2 ;;
    esac
    shift
done
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
debs=("$top"/build-package/amd64/morvane-{common,relay,server}_*.deb)
base=$top/build-chroot/bookworm
root=$top/build-chroot/try

command -v debootstrap >/dev/null || apt-get install -y --no-install-recommends debootstrap
[ -d "$base" ] || debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian

cleanup() {
    mountpoint -q "$root/proc" && umount "$root/proc"
    $keep || rm -rf --one-file-system "$top/build-chroot"
}
trap cleanup EXIT
fail() { echo "$*" >&2 && exit 1; }
in_root() { chroot "$root" "$@"; }
apt_install() { DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -q --no-install-recommends "$@"; }
# fresh: a new copy of the base system, with the packages (and the old one) in its /tmp.
fresh() {
    mountpoint -q "$root/proc" && umount "$root/proc"
    rm -rf --one-file-system "$root"
    cp -a "$base" "$root"
    cp /etc/resolv.conf "$root/etc/"
    cp "${debs[@]}" ${old:+"$old"} "$root/tmp/"
    mount -t proc proc "$root/proc"
    in_root apt-get update -q
}
deb() { echo "/tmp/$(basename "$(ls "$top"/build-package/amd64/"$1"_*.deb)")"; }

fresh
apt_install "$(deb morvane-common)" "$(deb morvane-relay)"
in_root dpkg-query -W 'libqt6gui6*' 'libqt6widgets6*' 2>/dev/null && fail "the relay brought Qt Gui along"
in_root morvane-relay --version
echo "morvane-relay installs alone, without Qt Gui or Widgets"

fresh
apt_install "$(deb morvane-common)" "$(deb morvane-server)"
status=0
in_root env QT_QPA_PLATFORM=offscreen timeout 3 morvane-server || status=$?
[ "$status" -eq 124 ] || fail "morvane-server alone ended with $status"
echo "morvane-server installs alone and starts"

fresh
if [ -n "$old" ]; then
    apt_install "/tmp/$(basename "$old")"
    echo "udp=127.0.0.1:8888  # kept" >>"$root/etc/morvane/relay.conf"
fi
apt_install "$(deb morvane-common)" "$(deb morvane-relay)" "$(deb morvane-server)"
if [ -n "$old" ]; then
    in_root dpkg-query -W -f '${Status}\n' morvane 2>/dev/null | grep -q '^install ok' \
        && fail "the old package morvane is still installed"
    grep -q '^udp=127.0.0.1:8888  # kept$' "$root/etc/morvane/relay.conf" \
        || fail "the edit of relay.conf was lost in the upgrade"
    echo "the three packages replace the old morvane, relay.conf's edit kept"
fi

in_root useradd -m -G morvane writer
in_root useradd -m desk
in_root stat -c '%U:%G %A %n' /var/lib/morvane /usr/lib/morvane/server
in_root readlink /usr/lib/morvane/api.txt /usr/bin/morvane-server
in_root runuser -u writer -- sh -c 'cd /var/lib/morvane &&
    printf "打开空调\r\n" | iconv -f UTF-8 -t GBK > api.tmp && mv api.tmp api.txt'
in_root runuser -u desk -- head -c 8 /usr/lib/morvane/api.txt | od -An -tx1
in_root runuser -u desk -- sh -c ': > /usr/lib/morvane/api.txt' 2>/dev/null \
    && fail "a user outside the group could write the request"
[ "$(in_root stat -c '%U:%G %a' /etc/morvane/relay.conf)" = "root:morvane-relay 640" ] \
    || fail "relay.conf is not kept from the request writers"
in_root runuser -u writer -- cat /etc/morvane/relay.conf >/dev/null 2>&1 \
    && fail "a request writer could read the relay's settings"

in_root morvane-listener --help | head -1
status=0
in_root runuser -u desk -- env QT_QPA_PLATFORM=offscreen timeout 3 morvane-server || status=$?
[ "$status" -eq 124 ] || fail "morvane-server ended with $status"
DEBIAN_FRONTEND=noninteractive in_root apt-get remove -y -q morvane-server
in_root morvane-relay --version
echo "morvane-relay, morvane-server and morvane-common install and run on a fresh Debian 12"
