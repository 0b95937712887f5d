#!/usr/bin/env bash
# bash scripts/cross.sh arm64|armhf: builds the Qt Core tests (request handling, the options and
# the settings file, the relay, the listener and the MQTT link) and the programs they start with
# Debian's cross compiler and that architecture's multiarch Qt, and runs them under qemu-user, the
# MQTT tests against a broker of this machine. No binfmt handlers are needed: CMake runs each test
# in the emulator, and the tests start the programs in it too. The libraries are found where
# multiarch put them, as on the device; qemu is the static one, which the library the tests
# preload for the guest (LD_PRELOAD) leaves alone.
set -euo pipefail
case ${1:-} in
arm64) triplet=aarch64-linux-gnu processor=aarch64 emulator=qemu-aarch64-static ;;
armhf) triplet=arm-linux-gnueabihf processor=armv7l emulator=qemu-arm-static ;;
*)
    echo "usage: bash scripts/cross.sh arm64|armhf" >&2
    exit 2
    ;;
esac
arch=$1
source "$(dirname "${BASH_SOURCE[0]}")/prepare.sh"
install_for_architecture "$arch"

dir=build-$arch
configure "$dir" -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=$processor \
    -DCMAKE_C_COMPILER=$triplet-gcc -DCMAKE_CXX_COMPILER=$triplet-g++ \
    -DPKG_CONFIG_EXECUTABLE=/usr/bin/$triplet-pkg-config -DQT_HOST_PATH=/usr \
    -DCMAKE_CROSSCOMPILING_EMULATOR=$emulator
folders=(request options relay listener mqtt)
targets=(morvane-relay morvane-listener)
for source in "${folders[@]/#/$top/tests/}"; do
    for test in "$source"/tst_*.cpp; do
        targets+=("$(basename "$test" .cpp)")
    done
done
cmake --build "$top/$dir" -j "$(nproc)" --target "${targets[@]}"
labels=$(IFS='|' && echo "${folders[*]}")
ctest --test-dir "$top/$dir" --output-on-failure -L "^($labels)\$"
