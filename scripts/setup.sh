#!/usr/bin/env bash
# Installs every missing Debian package, then configures and builds the
# project into build/ (or the folder given as $BUILD_DIR).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}

packages=(
    build-essential cmake mingw-w64 clang libclang-rt-14-dev
    qtbase5-dev qtbase5-dev-tools libbenchmark-dev libevdev-dev pkg-config
    xvfb openbox xdotool imagemagick x11-utils xserver-xorg-video-dummy x11-xserver-utils wine64
    umockdev libumockdev-dev lintian
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "error: missing packages (${missing[*]}) and neither root nor sudo" >&2
            exit 1
        fi
        sudo=(sudo)
    fi
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" -j"$(nproc)"
