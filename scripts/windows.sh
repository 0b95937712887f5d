#!/usr/bin/env bash
# Builds the Windows program with MinGW-w64 and Qt for Windows (../shared/windows/) into
# build-windows/, and lays out build-windows/Morvane/, a folder that runs on Windows as it is.
#   --test     then runs the tests under Wine
#   --package  then makes the installer and a portable .zip in build-windows/package/
#   --run      then starts the folder's server.exe under Wine, on a virtual display if there is none
set -euo pipefail
for option in "$@"; do
    case $option in
    --test | --package | --run) ;;
    *) echo "unknown option: $option (use --test, --package, --run)" >&2 && exit 2 ;;
    esac
done
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
install_missing g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 nsis socat

# unpack WHAT ARCHIVE TREE: unpacks ARCHIVE, which holds the directory TREE, into the ignored
# directory .windows/, once, and again when the archive changes.
unpack() {
    local what=$1 archive=$2 tree=$top/.windows/$3 unpacked
    [ -f "$archive" ] || { echo "$what not found: $archive" >&2; exit 1; }
    unpacked=$(stat -c '%n %s %Y' "$archive")
    if [ "$(cat "$tree.unpacked" 2>/dev/null)" != "$unpacked" ]; then
        rm -rf "$tree"
        mkdir -p "$top/.windows"
        tar -xJf "$archive" -C "$top/.windows"
        echo "$unpacked" >"$tree.unpacked"
    fi
}
unpack "Qt for Windows" "${MORVANE_WINDOWS_QT:-$top/../shared/windows/qt6-mingw-6.4.2.tar.xz}" \
    qt6-mingw
unpack "libmosquitto for Windows" \
    "${MORVANE_WINDOWS_MOSQUITTO:-$top/../shared/windows/mosquitto-mingw-2.0.11.tar.xz}" \
    mosquitto-mingw
unpack "inih for Windows" "${MORVANE_WINDOWS_INIH:-$top/../shared/windows/inih-mingw-r55.tar.xz}" \
    inih-mingw
qt=$top/.windows/qt6-mingw
# pkg-config finds inih for Windows there, never the Linux one.
export PKG_CONFIG_LIBDIR=$top/.windows/inih-mingw/lib/pkgconfig

build build-windows -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -Dmosquitto_DIR="$top/.windows/mosquitto-mingw/lib/cmake/mosquitto"
rm -rf "$top/build-windows/Morvane"
cmake --install "$top/build-windows" --prefix "$top/build-windows/Morvane" --strip >/dev/null
echo "Windows folder: $top/build-windows/Morvane"

for option in "$@"; do
    case $option in
    --test)
        junit=$top/build-windows/wine-tests.xml
        status=0
        ctest --test-dir "$top/build-windows" --output-on-failure --output-junit "$junit" \
            || status=$?
        ran=$(grep -c '<testcase name="tst_' "$junit")
        failed=$(grep '<testcase name="tst_' "$junit" | grep -vc 'status="run"' || true)
        echo "Windows leg: $ran test programs ran under Wine, $((ran - failed)) passed."
        WINEPREFIX=$top/build-windows/wine /usr/lib/wine/wineserver -k 2>/dev/null || true
        [ "$status" -eq 0 ] || exit "$status"
        ;;
    --package)
        cpack --config "$top/build-windows/CPackConfig.cmake" -B "$top/build-windows/package"
        makensis -V2 -DFOLDER="$top/build-windows/Morvane" -DOUTDIR="$top/build-windows/package" \
            "$top/build-windows/service.nsi"
        ls "$top"/build-windows/package/Morvane-*.{exe,zip}
        ;;
    --run)
        export WINEPREFIX=$top/build-windows/wine-run WINEDEBUG=-all
        export WINEDLLOVERRIDES='mscoree,mshtml='
        run=(env LC_ALL=zh_CN.UTF-8 /usr/lib/wine/wine64 "$top/build-windows/Morvane/server.exe")
        if [ -z "${DISPLAY:-}" ]; then
            echo "No display found: starting server.exe on a virtual X display (Xvfb)."
            run=(xvfb-run -a -s "-screen 0 1280x800x24 -dpi 96" "${run[@]}")
        fi
        "${run[@]}"
        ;;
    esac
done
