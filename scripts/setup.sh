#!/usr/bin/env bash
# Installs every missing Debian package, then configures and builds the
# project into build/ (or the folder given as $BUILD_DIR).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}

source "$here/packages.sh"
install_packages build-essential cmake mingw-w64 clang libclang-rt-14-dev \
    qtbase5-dev qtbase5-dev-tools libbenchmark-dev libevdev-dev pkg-config librsvg2-bin \
    xvfb openbox xdotool imagemagick x11-utils xserver-xorg-video-dummy x11-xserver-utils wine64 \
    umockdev libumockdev-dev lintian desktop-file-utils

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build_dir" -j"$(nproc)"
