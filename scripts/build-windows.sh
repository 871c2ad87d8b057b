#!/usr/bin/env bash
# Builds the Windows program: visualview.exe and boardevents.exe, statically
# linked with Qt and the C++ runtime so that they run on a Windows PC without
# installing anything, and the simulated board's libnorvaboardex.dll beside
# them. Sets the machine up first (scripts/setup.sh) and builds Qt for Windows
# when it has none (scripts/build-qt-windows.sh).
#
# Usage: build-windows.sh [--no-setup] [x86_64|i686]...   (default: x86_64)
#   --no-setup  the machine is set up already (scripts/package.sh), so the
#               development tree is not built
# Output: build-windows-program-<arch>/bin/ (beside $BUILD_DIR)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_root=${BUILD_DIR:-$root/build}

setup=true
if [ "${1:-}" = --no-setup ]; then
    setup=false
    shift
fi
archs=("$@")
if [ ${#archs[@]} -eq 0 ]; then
    archs=(x86_64)
fi

if $setup; then
    "$here/setup.sh"
fi
for arch in "${archs[@]}"; do
    "$here/build-qt-windows.sh" "$arch"
    qt=$("$here/build-qt-windows.sh" --prefix "$arch")
    triplet=$arch-w64-mingw32
    build_dir=$build_root-windows-program-$arch
    # Stripped (-s): a user's program needs no symbols, and they would almost
    # double its size.
    MINGW_TRIPLET=$triplet cmake -S "$root" -B "$build_dir" \
        -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s -DCMAKE_SHARED_LINKER_FLAGS_RELEASE=-s \
        -DVISUALVIEW_PROGRAM_ONLY=ON -DVISUALVIEW_WINDOWS_QT="$qt" >/dev/null
    MINGW_TRIPLET=$triplet cmake --build "$build_dir" -j"$(nproc)"

    for program in "$build_dir"/bin/{visualview,boardevents}.exe; do
        # Nothing but Windows' own DLLs: no C++ runtime, no Qt, no thread library.
        imports=$("$triplet-objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
        if grep -iE '^(lib|qt|zlib|icu)' <<<"$imports"; then
            echo "error: $program needs the DLLs above, which Windows does not have" >&2
            exit 1
        fi
        echo "Windows $arch: $program ($(du -m "$program" | cut -f1) MB), imports: $(paste -sd ' ' <<<"$imports")"
    done
    echo "    and $build_dir/bin/libnorvaboardex.dll"
done
