#!/usr/bin/env bash
# Builds the installer and the .zip from the build tree, installs silently under Wine into a fresh
# prefix standing in for a user's Windows, and checks what the user gets: the folder in the
# user's own programs with every DLL the programs load, the Start-menu entry, the uninstaller and
# its registration, the same files as in the .zip; then uninstalls and checks that all is gone.
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$build/installer-check
export WINEPREFIX=$scratch/wine WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
rm -rf "$scratch"
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null
installer=$(ls "$scratch"/package/Morvane-*.exe)
zip=$(ls "$scratch"/package/Morvane-*.zip)
"$wine" wineboot -i >/dev/null 2>&1

"$wine" "$installer" /S
"$wineserver" -w
user=$WINEPREFIX/drive_c/users/$(id -un)
folder=$user/AppData/Local/Programs/Morvane
[ -f "$folder/server.exe" ] || fail "server.exe is not in the user's programs"
[ -f "$folder/morvane-relay.exe" ] || fail "morvane-relay.exe is not in the user's programs"
[ -f "$folder/Uninstall.exe" ] || fail "no uninstaller"

installed=$(cd "$folder" && find . -type f ! -name Uninstall.exe | sed 's|^\./||' | sort)
zipped=$(cmake -E tar tf "$zip" | grep -v '/$' | sed 's|^[^/]*/||' | sort)
[ "$installed" = "$zipped" ] || fail "installer and .zip differ: $(diff <(echo "$installed") \
    <(echo "$zipped") || true)"

# Every DLL the programs and plugins import is in the folder or is one of Windows' own.
system32=$WINEPREFIX/drive_c/windows/system32
while read -r dll; do
    [[ ${dll,,} == api-ms-win-* ]] && continue
    [ -n "$(find "$folder" "$system32" -maxdepth 1 -iname "$dll")" ] || fail "$dll is missing"
done < <(find "$folder" \( -iname '*.dll' -o -iname '*.exe' ! -name Uninstall.exe \) \
    -exec x86_64-w64-mingw32-objdump -p {} + | sed -n 's/^\tDLL Name: //p' | sort -u)

shortcut="$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Morvane智能硬件服务器端.lnk"
[ -f "$shortcut" ] || fail "no Start-menu entry"
tr -d '\0' <"$shortcut" | grep -qi 'Programs\\Morvane\\server.exe' \
    || fail "the Start-menu entry does not start server.exe"

key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Morvane'
"$wine" reg query "$key" /v UninstallString | grep -q 'Morvane\\Uninstall.exe' \
    || fail "the uninstaller is not registered for the user"

"$wine" "$folder/Uninstall.exe" /S
"$wineserver" -w
[ ! -e "$folder" ] || fail "uninstalling leaves $(ls -A "$folder")"
[ ! -e "$shortcut" ] || fail "uninstalling leaves the Start-menu entry"
! "$wine" reg query "$key" >/dev/null 2>&1 || fail "uninstalling leaves the registration"
echo "installer, .zip and uninstaller as expected"
