#!/usr/bin/env bash
# Boots a fresh minimal Debian 12 with systemd in a container (systemd-nspawn, sharing this
# machine's network) and runs the packaged relay there as a box runs it:
#  - systemctl enable --now returns once the relay is ready, and systemctl status shows its line;
#  - under PrivateUsers= it writes to a serial device through the group dialout: a pseudo-terminal
#    of this machine, bound in as /dev/ttyUSB0, whose far side is read here;
#  - systemctl reload, without /bin/kill, returns once the new settings are in force, and fails
#    when they are refused, the relay going on with the old ones;
#  - a relay whose event loop stops (kill -STOP) is killed by the watchdog and started again;
#  - systemctl stop ends it cleanly;
#  - two instances of the template, morvane-relay@a and @b, run side by side.
# Run as root after scripts/package.sh; needs debootstrap, systemd-nspawn (systemd-container),
# python3 and the network, and takes a few minutes, most of them the watchdog's 30 seconds. The
# base system (about 250 MB) is made once into build-chroot/bookworm-systemd and a copy of it is
# booted; with --keep both stay, otherwise they are removed at the end.
set -euo pipefail
keep=false
case ${1:-} in
--keep) keep=true ;;
"") ;;
*) echo "usage: try-on-systemd.sh [--keep]" >&2 && exit 2 ;;
esac
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
debs=("$top"/build-package/amd64/morvane-{common,relay}_*.deb)
base=$top/build-chroot/bookworm-systemd
root=$top/build-chroot/boot

command -v debootstrap >/dev/null || apt-get install -y --no-install-recommends debootstrap
command -v systemd-nspawn >/dev/null || apt-get install -y --no-install-recommends systemd-container
[ -d "$base" ] || debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus bookworm \
    "$base" http://deb.debian.org/debian

line=$(mktemp -d)
nspawn= far=
cleanup() {
    [ -z "$nspawn" ] || { kill "$nspawn" && wait "$nspawn"; } || true
    [ -z "$far" ] || kill "$far" || true
    rm -rf "$line"
    $keep || rm -rf --one-file-system "$top/build-chroot"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2 && exit 1; }

# The serial adapter: a pseudo-terminal owned by root and the group dialout, as udev makes one.
python3 - "$line" <<'EOF' &
import grp, os, sys
master, slave = os.openpty()
name = os.ttyname(slave)
os.chown(name, 0, grp.getgrnam("dialout").gr_gid)
os.chmod(name, 0o660)
with open(sys.argv[1] + "/received", "ab", buffering=0) as received:
    open(sys.argv[1] + "/name", "w").write(name)
    while True:
        received.write(os.read(master, 4096))
EOF
far=$!
for _ in {1..50}; do [ -s "$line/name" ] && break || sleep 0.1; done

rm -rf --one-file-system "$root"
cp -a "$base" "$root"
cp "${debs[@]}" "$root/root/"
systemd-nspawn -b -D "$root" --console=pipe --register=no --keep-unit \
    --bind="$(cat "$line/name"):/dev/ttyUSB0" >"$line/console" 2>&1 &
nspawn=$!
init=
for _ in {1..100}; do
    init=$(pgrep -P "$nspawn" -x systemd || true)
    [ -n "$init" ] && break || sleep 0.1
done
[ -n "$init" ] || fail "the container did not boot: $(cat "$line/console")"
inside() {
    nsenter -t "$init" -a -- /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive SYSTEMD_PAGER= "$@"
}
shown() { inside systemctl show -P "$2" "$1"; }
until [[ $(inside systemctl is-system-running --wait 2>/dev/null) =~ running|degraded ]]; do sleep 0.5; done
inside apt-get update -q >/dev/null
inside apt-get install -y -q --no-install-recommends \
    /root/"$(basename "${debs[0]}")" /root/"$(basename "${debs[1]}")" >/dev/null
inside test ! -e /bin/kill || fail "procps is installed: this is not a minimal system"

settings() { printf '%s\n' "$@" | inside tee /etc/morvane/relay.conf >/dev/null; }
inside sh -c 'printf "打开空调" | iconv -f UTF-8 -t GBK >/var/lib/morvane/api.txt'
settings udp=127.0.0.1:47001 serial=/dev/ttyUSB0
inside systemctl enable --now morvane-relay
[ "$(shown morvane-relay ActiveState)" = active ] || fail "not active once enable --now returned"
inside systemctl status morvane-relay | grep -F 'Status: "请求文件 /var/lib/morvane/api.txt' \
    || fail "systemctl status shows no status line"
for _ in {1..50}; do iconv -f GBK -t UTF-8 "$line/received" | grep -q '空调=启动' && break || sleep 0.1; done
iconv -f GBK -t UTF-8 "$line/received" | grep -q '空调=启动' \
    || fail "nothing arrived on the serial line: $(inside journalctl -u morvane-relay -n 5 -o cat)"
echo "ok: ready at once, its status line shown, the serial line written through dialout"

settings udp=127.0.0.1:47001,127.0.0.1:47002 serial=/dev/ttyUSB0
inside systemctl reload morvane-relay
[[ $(shown morvane-relay StatusText) == *"UDP 127.0.0.1:47002"* ]] \
    || fail "systemctl reload returned before the reload: $(shown morvane-relay StatusText)"
settings udp=127.0.0.1:47003 interval=1 interval=2
! inside systemctl reload morvane-relay 2>/dev/null || fail "a refused reload succeeded"
[ "$(shown morvane-relay ActiveState)" = active ] || fail "a refused reload stopped the relay"
[[ $(shown morvane-relay StatusText) == *"UDP 127.0.0.1:47002"* ]] || fail "the old settings are gone"
settings udp=127.0.0.1:47001 serial=/dev/ttyUSB0
echo "ok: systemctl reload returns with the new settings in force, and fails when they are refused"

before=$(shown morvane-relay MainPID)
inside bash -c "kill -STOP $before"
for _ in {1..600}; do
    [ "$(shown morvane-relay NRestarts)" -ge 1 ] && [ "$(shown morvane-relay ActiveState)" = active ] &&
        break || sleep 0.1
done
[ "$(shown morvane-relay ActiveState)" = active ] && [ "$(shown morvane-relay MainPID)" != "$before" ] \
    || fail "the stopped relay was not restarted"
inside journalctl -u morvane-relay -o cat | grep -q 'Watchdog timeout' || fail "no watchdog timeout"
echo "ok: a stopped relay killed by the watchdog and started again as $(shown morvane-relay MainPID)"

inside systemctl stop morvane-relay
[ "$(shown morvane-relay ActiveState)" = inactive ] && [ "$(shown morvane-relay Result)" = success ] \
    || fail "systemctl stop: $(shown morvane-relay ActiveState), $(shown morvane-relay Result)"
for _ in {1..20}; do
    inside journalctl -u morvane-relay -n 3 -o cat | grep -q '已停止$' && break || sleep 0.1
done || fail "the relay logged no end"
echo "ok: systemctl stop ends the relay cleanly, its last line 已停止"

declare -A port=([a]=47101 [b]=47102)
for name in a b; do
    echo "udp=127.0.0.1:${port[$name]}" | inside tee "/etc/morvane/relay-$name.conf" >/dev/null
    inside chgrp morvane-relay "/etc/morvane/relay-$name.conf"
    inside chmod 640 "/etc/morvane/relay-$name.conf"
done
inside systemctl start morvane-relay@a morvane-relay@b
for name in a b; do
    [ "$(shown "morvane-relay@$name" ActiveState)" = active ] \
        || fail "morvane-relay@$name: $(inside journalctl -u "morvane-relay@$name" -n 5 -o cat)"
    inside test -d "/var/lib/morvane-relay/$name" || fail "morvane-relay@$name has no state directory"
done
[[ $(shown morvane-relay@a StatusText) == *47101* && $(shown morvane-relay@b StatusText) == *47102* ]] \
    || fail "the instances do not serve their own settings"
echo "ok: morvane-relay@a and @b side by side, each with its settings and state directory"
