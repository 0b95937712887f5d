#!/usr/bin/env bash
# The relay as a Windows service under Wine's Service Control Manager, in a fresh prefix: installed
# with --service install, started, its datagrams at a listener; paramchange (--service reload)
# after an edit adds a destination and keeps the first, a bad edit keeps both; stopped within a
# second; removed. Then the same from the service installer, silently, whose uninstaller keeps
# relay.conf. Wine writes the Event Log to its debug channel `eventlog` (information as trace,
# warnings as warn): the lines are looked for there, and the stop is timed by the channel `service`. check-service.sh BUILD_DIRECTORY
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$build/service-check
export WINEPREFIX=$scratch/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
rm -rf "$scratch"
mkdir -p "$scratch"
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
windows() { echo "Z:${1//\//\\}"; }

cmake --install "$build" --prefix "$scratch/Morvane" >/dev/null
makensis -V1 -DFOLDER="$scratch/Morvane" -DOUTDIR="$scratch" "$build/service.nsi"
"$wine" wineboot -i >/dev/null 2>&1
"$wineserver" -k
# One session throughout, started anew to catch the Event Log: without it, the service would end a
# second after the last Wine command.
WINEDEBUG=-all,+eventlog,+service,+timestamp "$wineserver" -p
WINEDEBUG=-all,+eventlog,+service,+timestamp "$wine" cmd /c exit 2>"$scratch/events.txt" </dev/null
relay=("$wine" "$scratch/Morvane/morvane-relay.exe")
data=$WINEPREFIX/drive_c/ProgramData/Morvane
port=$((20000 + RANDOM % 20000))

# heard PORT: whether the command of 打开空调, 空调=启动 in GBK, reaches 127.0.0.1:PORT within a
# second, where the relay sends from the same port.
heard() {
    [ "$(timeout 1 socat -u "UDP4-RECV:$1,bind=127.0.0.1,reuseaddr" STDOUT | head -c 9 |
        od -An -tx1 | tr -d ' \n')" = bfd5b5f73dc6f4b6af ]
}
state() { "$wine" sc query MorvaneRelay 2>/dev/null | tr -d '\r' | sed -n 's/.*STATE *: [0-9]* *//p'; }
# logged LEVEL TEXT: whether the Event Log got TEXT (as Wine writes it: \XXXX for each character
# outside ASCII) at LEVEL.
logged() { grep -qF "$1:eventlog:ReportEventW L\"$2" "$scratch/events.txt"; }
# The milliseconds from the stop control's arrival to the service's SERVICE_STOPPED, as Wine's
# trace of the session's services times them (a Wine command alone may take a second here).
stops() {
    local pid
    pid=$(pgrep -f 'morvane-relay.exe --service run') || fail "no service process"
    "$wine" sc stop MorvaneRelay >/dev/null
    while kill -0 "$pid" 2>/dev/null; do sleep 0.01; done
    awk '/service_handle_control L"MorvaneRelay" control 1 / { asked = $1 + 0 }
         asked && /:SetServiceStatus [0-9A-F]+ 0x10 0x1 / { print int(($1 - asked) * 1000); exit }' \
        "$scratch/events.txt"
}

printf 'udp=127.0.0.1:%d\n' "$port" >"$scratch/relay.conf"
"${relay[@]}" --service install --config "$(windows "$scratch/relay.conf")" >/dev/null \
    || fail "--service install failed"
"${relay[@]}" --service install --config "$(windows "$scratch/relay.conf")" >/dev/null \
    || fail "--service install failed the second time"
source=$("$wine" reg query \
    'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\MorvaneRelay' /v EventMessageFile)
[[ $source == *morvane-relay.exe* ]] || fail "no event source"
mkdir -p "$data"
printf '\xb4\xf2\xbf\xaa\xbf\xd5\xb5\xf7' >"$data/api.txt"
"$wine" sc start MorvaneRelay >/dev/null
sleep 2
[ "$(state)" = RUNNING ] || fail "the service does not run"
heard "$port" || fail "no datagram from the service"
logged trace '\5df2\542f\52a8' || fail "已启动 is not in the Event Log as information"

printf 'udp=127.0.0.1:%d, 127.0.0.1:%d\n' "$port" $((port + 1)) >"$scratch/relay.conf"
"${relay[@]}" --service reload >/dev/null || fail "--service reload failed"
sleep 1
heard $((port + 1)) || fail "paramchange did not add the destination"
heard "$port" || fail "paramchange lost the first destination"
printf 'udp=127.0.0.1:%d\nudp=x\n' "$port" >"$scratch/relay.conf"
"${relay[@]}" --service reload >/dev/null
sleep 1
heard $((port + 1)) || fail "a bad file did not keep the settings"
logged warn '\8bbe\7f6e\672a\91cd\65b0\8bfb\53d6' \
    || fail "设置未重新读取 is not in the Event Log as a warning"

took=$(stops)
[ -n "$took" ] && [ "$took" -lt 1000 ] || fail "the service took $took ms to stop"
[ "$(state)" = STOPPED ] || fail "stopped, it is not STOPPED"
logged trace '\5df2\505c\6b62' || fail "已停止 is not in the Event Log"
"${relay[@]}" --service remove >/dev/null || fail "--service remove failed"
"${relay[@]}" --service remove >/dev/null || fail "--service remove failed the second time"
[ -z "$(state)" ] || fail "removed, the service is still there"

# The installer lays out relay.conf from /CONFIG, where there is none, and keeps it.
rm -rf "$data"
printf 'udp=127.0.0.1:%d\n' "$port" >"$scratch/given.conf"
"$wine" "$scratch"/Morvane-relay-service-*.exe /S "/CONFIG=$(windows "$scratch/given.conf")"
sleep 2
program=$WINEPREFIX/drive_c/Program\ Files/Morvane/Relay
[ "$(state)" = RUNNING ] || fail "installed, the service does not run"
cmp -s "$scratch/given.conf" "$data/relay.conf" || fail "/CONFIG did not become relay.conf"
printf '\xb4\xf2\xbf\xaa\xbf\xd5\xb5\xf7' >"$data/api.txt"
heard "$port" || fail "no datagram from the installed service"
"$wine" "$scratch"/Morvane-relay-service-*.exe /S "/CONFIG=$(windows "$scratch/relay.conf")"
cmp -s "$scratch/given.conf" "$data/relay.conf" || fail "installing again replaced relay.conf"
"$wine" "$program/Uninstall.exe" /S
for _ in $(seq 100); do [ -e "$program" ] || break; sleep 0.2; done
[ ! -e "$program" ] || fail "uninstalling leaves $(ls -A "$program")"
[ -z "$(state)" ] || fail "uninstalled, the service is still there"
cmp -s "$scratch/given.conf" "$data/relay.conf" || fail "uninstalling did not keep relay.conf"
echo "service: installed, relayed, reloaded, stopped in $took ms, removed; installer as expected"
