#!/usr/bin/env bash
# Builds what a person downloads: the Debian package
# visualview_<version>_<arch>.deb, built as Debian builds its own, and, for
# each Windows architecture whose Qt for Windows is built on this machine
# (scripts/build-qt-windows.sh), a zip visualview_<version>_windows-<arch>.zip.
# Installs only what building them needs and builds only the release tree,
# from scratch, without tests.
#
# One commit gives one package, byte for byte, wherever it is built: its
# dates are the last commit's (SOURCE_DATE_EPOCH, unless set), and no path of
# the checkout or the build folder stays in the programs
# (scripts/reproducible.sh checks it).
#
# Usage: package.sh [output folder]   (default: build-package/ beside build/)
# Prints the path of each package it made, one a line.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_root=${BUILD_DIR:-$root/build}
out=$(realpath -m "${1:-$build_root-package}")
build_dir=$out/build

source "$here/packages.sh"
# dpkg-dev gives the flags and the dependencies (dpkg-shlibdeps, which CPack
# runs on the files that `file` says are programs); rsvg-convert renders the
# icon's sizes.
install_packages build-essential cmake pkg-config qtbase5-dev qtbase5-dev-tools libevdev-dev \
    dpkg-dev file git librsvg2-bin

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
export LC_ALL=C.UTF-8 TZ=UTC
umask 022

# Debian's compiler and linker flags with all of its hardening (bind-now is
# not among the defaults). Its -ffile-prefix-map names the checkout "."; the
# build folder becomes "build", last so that it wins when it lies inside the
# checkout. CMake reads no CPPFLAGS, so they join the compilers' flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
eval "$(cd "$root" && dpkg-buildflags --export=sh)"
map="-ffile-prefix-map=$build_dir=build"
export CFLAGS="$CFLAGS $CPPFLAGS $map" CXXFLAGS="$CXXFLAGS $CPPFLAGS $map"

rm -rf "$build_dir"
mkdir -p "$out"
# Release without its own optimisation flags: Debian's -O2 stays, asserts go.
cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DVISUALVIEW_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" >&2
(cd "$build_dir" && cpack -B "$out" >&2)
rm -rf "$out/_CPack_Packages"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build_dir/CPackConfig.cmake")
ls "$out"/visualview_"$version"_*.deb

# The Windows programs, where Qt for Windows is there: built as
# scripts/build-windows.sh builds them, then zipped with the simulated board
# in a folder of its own, which only demo.cmd puts on the search path, and
# the user's pages that the Debian package installs.
pages=$out/pages
rm -rf "$pages"
cmake --install "$build_dir" --component guide --prefix "$pages" >/dev/null
for arch in x86_64 i686; do
    if ! "$here/build-qt-windows.sh" --prefix "$arch" >/dev/null; then
        echo "No zip for Windows $arch: Qt for Windows is not built here (scripts/build-qt-windows.sh $arch)" >&2
        continue
    fi
    "$here/build-windows.sh" --no-setup "$arch" >&2
    bin=$build_root-windows-program-$arch/bin
    stage=$out/windows-$arch/visualview
    rm -rf "$stage"
    mkdir -p "$stage/simulated-board"
    cp "$bin/visualview.exe" "$bin/boardevents.exe" "$root/packaging/demo.cmd" "$stage/"
    cp "$bin/libnorvaboardex.dll" "$stage/simulated-board/"
    cp -r "$pages/share/doc/visualview/docs" "$stage/docs"
    sed -e "s/@VISUALVIEW_VERSION@/$version/" -e "s/@WINDOWS_ARCH@/$arch/" \
        "$root/packaging/README-windows.txt" | sed 's/$/\r/' >"$stage/README.txt"
    zip=$out/visualview_${version}_windows-$arch.zip
    rm -f "$zip"
    (cd "$out/windows-$arch" && cmake -E tar cf "$zip" --format=zip visualview)
    rm -rf "$out/windows-$arch"
    echo "$zip"
done
rm -rf "$pages"
