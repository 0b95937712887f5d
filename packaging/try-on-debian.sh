#!/usr/bin/env bash
# Installs the three packages on a fresh Debian 12 (a debootstrap chroot, made once into
# build-chroot/bookworm and copied for each try) and checks that they are usable there: the
# dependencies resolve without recommended packages, the request directory belongs to the group
# morvane, a member of the group can write a request that the installed server reads but cannot
# read the relay's settings, both programs start, and the relay stays when the desktop program is
# removed. Run as root after scripts/package.sh; needs debootstrap and the network.
# The chroots take about 900 MB and are removed at the end; with --keep they stay, and the next
# try starts from the kept Debian instead of downloading it again.
set -euo pipefail
keep=false
[ "${1:-}" = --keep ] && keep=true
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
debs=("$top"/build-package/amd64/morvane-{common,relay,server}_*.deb)
base=$top/build-chroot/bookworm
root=$top/build-chroot/try

command -v debootstrap >/dev/null || apt-get install -y --no-install-recommends debootstrap
[ -d "$base" ] || debootstrap --variant=minbase bookworm "$base" http://deb.debian.org/debian

rm -rf "$root"
cp -a "$base" "$root"
cp /etc/resolv.conf "$root/etc/"
cp "${debs[@]}" "$root/tmp/"
mount -t proc proc "$root/proc"
cleanup() {
    umount "$root/proc" && { $keep || rm -rf --one-file-system "$top/build-chroot"; }
}
trap cleanup EXIT

in_root() { chroot "$root" "$@"; }
in_root apt-get update -q
DEBIAN_FRONTEND=noninteractive in_root apt-get install -y -q --no-install-recommends \
    "${debs[@]/#*\//\/tmp\/}"

in_root useradd -m -G morvane writer
in_root useradd -m desk
in_root stat -c '%U:%G %A %n' /var/lib/morvane /usr/lib/morvane/server
in_root readlink /usr/lib/morvane/api.txt /usr/bin/morvane-server
in_root runuser -u writer -- sh -c 'cd /var/lib/morvane &&
    printf "打开空调\r\n" | iconv -f UTF-8 -t GBK > api.tmp && mv api.tmp api.txt'
in_root runuser -u desk -- head -c 8 /usr/lib/morvane/api.txt | od -An -tx1
if in_root runuser -u desk -- sh -c ': > /usr/lib/morvane/api.txt' 2>/dev/null; then
    echo "a user outside the group could write the request" >&2
    exit 1
fi

[ "$(in_root stat -c '%U:%G %a' /etc/morvane/relay.conf)" = "root:morvane-relay 640" ] \
    || { echo "relay.conf is not kept from the request writers" >&2; exit 1; }
if in_root runuser -u writer -- cat /etc/morvane/relay.conf >/dev/null 2>&1; then
    echo "a request writer could read the relay's settings" >&2
    exit 1
fi

in_root morvane-listener --help | head -1
status=0
in_root runuser -u desk -- env QT_QPA_PLATFORM=offscreen timeout 3 morvane-server || status=$?
[ "$status" -eq 124 ] || { echo "morvane-server ended with $status" >&2; exit 1; }
DEBIAN_FRONTEND=noninteractive in_root apt-get remove -y -q morvane-server
in_root morvane-relay --version
echo "morvane-relay, morvane-server and morvane-common install and run on a fresh Debian 12"
