#!/usr/bin/env bash
# Builds Qt for Windows from Debian's own qtbase source package with Debian's
# mingw-w64 compilers: static, release, with only what visualview uses (Core,
# Gui, Widgets and the Windows platform plugin). The result is kept outside the
# source tree, under ~/.cache/visualview/, one folder per source package
# version and architecture, so that a machine builds it once.
#
# Usage: build-qt-windows.sh [--prefix] <x86_64|i686>
#   --prefix  only print the folder of that Qt; exit status 1 if it is not built
set -euo pipefail

only_prefix=false
if [ "${1:-}" = --prefix ]; then
    only_prefix=true
    shift
fi
arch=${1:?usage: build-qt-windows.sh [--prefix] <x86_64|i686>}
case $arch in
x86_64 | i686) ;;
*)
    echo "error: unknown architecture $arch (x86_64 or i686)" >&2
    exit 2
    ;;
esac
triplet=$arch-w64-mingw32

# The same source version as the Linux Qt that the rest of the project uses.
version=$(dpkg-query -W -f='${source:Version}' qtbase5-dev 2>/dev/null || true)
if [ -z "$version" ]; then
    echo "error: qtbase5-dev is not installed (scripts/setup.sh installs it)" >&2
    exit 1
fi
cache=${XDG_CACHE_HOME:-$HOME/.cache}/visualview
key=$(tr '+:~' '___' <<<"$version")
prefix=$cache/qt5-$key-$triplet

if $only_prefix; then
    echo "$prefix"
    test -f "$prefix/.complete"
    exit
fi
if [ -f "$prefix/.complete" ]; then
    echo "Qt $version for $triplet: $prefix"
    exit 0
fi

for tool in "$triplet-g++-posix" "$triplet-gcc-posix" "$triplet-windres" dpkg-source make g++ perl; do
    if ! command -v "$tool" >/dev/null; then
        echo "error: $tool is missing (install mingw-w64, dpkg-dev and build-essential)" >&2
        exit 1
    fi
done

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "error: $* needs root" >&2
        exit 1
    fi
}

# apt-get source needs a deb-src entry for the installed release: add one
# beside the binary entries if there is none.
source_dir=$cache/src/qtbase-$key
if [ ! -f "$source_dir/configure" ]; then
    if ! apt-cache showsrc qtbase-opensource-src 2>/dev/null | grep -qxF "Version: $version"; then
        deb822=/etc/apt/sources.list.d/debian.sources
        if [ -f "$deb822" ]; then
            sed 's/^Types: deb$/Types: deb-src/' "$deb822" |
                as_root tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
        else
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
                as_root tee /etc/apt/sources.list.d/debian-src.list >/dev/null
        fi
        echo "Added a deb-src entry for Debian's source packages"
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    fi
    mkdir -p "$cache/src"
    rm -rf "$source_dir"
    (cd "$cache/src" && apt-get source --download-only -qq "qtbase-opensource-src=$version" &&
        dpkg-source -x "qtbase-opensource-src_${version#*:}.dsc" "$source_dir" >/dev/null)
fi

# The plain compiler names default to win32 threads; the program needs the
# posix ones (std::thread), so they come first on PATH under the plain names.
build_dir=$cache/build-qt5-$key-$triplet
tools=$build_dir/posix-tools
rm -rf "$build_dir"
mkdir -p "$tools"
ln -s "$(command -v "$triplet-gcc-posix")" "$tools/$triplet-gcc"
ln -s "$(command -v "$triplet-g++-posix")" "$tools/$triplet-g++"
export PATH=$tools:$PATH

log=$cache/qt5-$key-$triplet.log
jobs=$(nproc)
echo "Building Qt $version for $triplet with $jobs jobs (about 30 minutes on 2 cores); log: $log"
start=$SECONDS
set +e
(
    set -e
    echo "Qt $version for $triplet, $(date -u '+%F %T') UTC, $jobs jobs on $(nproc) cores"
    cd "$build_dir"
    # Tablet events need wintab.h, which the source package does not ship;
    # the program reads mouse and touch.
    "$source_dir/configure" -prefix "$prefix" \
        -xplatform win32-g++ -device-option "CROSS_COMPILE=$triplet-" \
        -opensource -confirm-license -release -static -static-runtime \
        -nomake examples -nomake tests -no-pkg-config -silent \
        -no-opengl -no-dbus -no-icu -no-direct2d -no-vulkan -no-feature-tabletevent \
        -no-feature-network -no-feature-sql -no-feature-xml -no-feature-testlib \
        -no-feature-concurrent -no-feature-printer \
        -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz
    configured=$SECONDS
    nice -n 10 make -j"$jobs"
    make install
    echo "configure: $((configured - start)) s, build and install: $((SECONDS - configured)) s"
) >"$log" 2>&1
status=$?
set -e
if [ $status -ne 0 ]; then
    echo "error: building Qt failed; the end of $log:" >&2
    tail -n 30 "$log" >&2
    exit 1
fi
cp "$build_dir/config.summary" "$prefix/"
echo "$version" >"$prefix/.complete"
rm -rf "$build_dir"
echo "Qt $version for $triplet built in $(((SECONDS - start) / 60)) min: $prefix"
