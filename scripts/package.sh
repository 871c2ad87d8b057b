#!/usr/bin/env bash
# Builds, from a clean tree, what a person downloads: the Debian package
# visualview_<version>_<arch>.deb and, for each Windows architecture whose Qt
# for Windows is built on this machine (scripts/build-qt-windows.sh), a zip
# visualview_<version>_windows-<arch>.zip. Sets the machine up first.
#
# Usage: package.sh [output folder]   (default: build-package/ beside build/)
# Prints the path of each package it made, one a line.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_root=${BUILD_DIR:-$root/build}
out=${1:-$build_root-package}
build_dir=$out/build

"$here/setup.sh" >&2
rm -rf "$build_dir"
mkdir -p "$out"
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DVISUALVIEW_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" >&2
(cd "$build_dir" && cpack -B "$out" >&2)
rm -rf "$out/_CPack_Packages"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
ls "$out"/visualview_"$version"_*.deb

# The Windows programs, where Qt for Windows is there: built as
# scripts/build-windows.sh builds them, then zipped with the simulated board
# in a folder of its own, which only demo.cmd puts on the search path.
for arch in x86_64 i686; do
    if ! "$here/build-qt-windows.sh" --prefix "$arch" >/dev/null; then
        echo "No zip for Windows $arch: Qt for Windows is not built here (scripts/build-qt-windows.sh $arch)" >&2
        continue
    fi
    "$here/build-windows.sh" "$arch" >&2
    bin=$build_root-windows-program-$arch/bin
    stage=$out/windows-$arch/visualview
    rm -rf "$stage"
    mkdir -p "$stage/simulated-board"
    cp "$bin/visualview.exe" "$bin/boardevents.exe" "$root/packaging/demo.cmd" "$stage/"
    cp "$bin/libnorvaboardex.dll" "$stage/simulated-board/"
    sed -e "s/@VISUALVIEW_VERSION@/$version/" -e "s/@WINDOWS_ARCH@/$arch/" \
        "$root/packaging/README-windows.txt" | sed 's/$/\r/' >"$stage/README.txt"
    zip=$out/visualview_${version}_windows-$arch.zip
    rm -f "$zip"
    (cd "$out/windows-$arch" && cmake -E tar cf "$zip" --format=zip visualview)
    rm -rf "$out/windows-$arch"
    echo "$zip"
done
