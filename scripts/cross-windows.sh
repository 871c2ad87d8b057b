#!/usr/bin/env bash
# Cross-compiles the driver side for Windows with Debian's mingw-w64, for
# x86_64 and i686: the binding, the board library and the binding's test
# program with its test drivers (no Qt is needed for any of them). On i686 the
# entry points are __stdcall, so this also checks that every library exports
# the plain names that GetProcAddress looks up.
#
# Build folders: build-windows-x86_64 and build-windows-i686 (beside $BUILD_DIR).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_root=${BUILD_DIR:-$root/build}

# Exported names of a DLL, one a line.
exports() {
    "$1-objdump" -p "$2" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p'
}

for arch in x86_64 i686; do
    triplet=$arch-w64-mingw32
    build_dir=$build_root-windows-$arch
    echo "== Windows $arch"
    MINGW_TRIPLET=$triplet cmake -S "$root" -B "$build_dir" \
        -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DVISUALVIEW_DRIVER_ONLY=ON >/dev/null
    MINGW_TRIPLET=$triplet cmake --build "$build_dir" -j"$(nproc)"

    test -f "$build_dir/tests/drivers/norvawrapper/tst_norvawrapper.exe"
    for dll in "$build_dir/bin/libnorvaboardex.dll" \
        "$build_dir/tests/drivers/recording/libnorvaboardex.dll"; do
        names=$(exports "$triplet" "$dll")
        if grep -q '@' <<<"$names"; then
            echo "error: decorated export names in $dll:" >&2
            grep '@' <<<"$names" >&2
            exit 1
        fi
        count=$(grep -c '^norva' <<<"$names" || true)
        if [ "$count" -ne 49 ]; then
            echo "error: $dll exports $count entry points instead of 49" >&2
            exit 1
        fi
    done
    # The file properties that Windows shows: the project's version.
    version=$(sed -n 's/^ *VALUE "FileVersion", "\(.*\)"$/\1/p' "$build_dir/norvaboardex_version.rc")
    if ! grep -qxF "$version" <<<"$(strings -el -n1 "$build_dir/bin/libnorvaboardex.dll")"; then
        echo "error: $build_dir/bin/libnorvaboardex.dll has no version resource $version" >&2
        exit 1
    fi
    echo "Windows $arch: binding, board library and test program built; 49 plain exports each; version $version"
done
