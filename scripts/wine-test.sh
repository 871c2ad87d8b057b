#!/usr/bin/env bash
# Runs the binding's test program, built for 64-bit Windows by
# scripts/cross-windows.sh, under wine: against no driver library, the one
# that offers a single entry point and the recording one. Not part of CI.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}-windows-x86_64

# Debian's wine64 package installs the loader outside PATH.
wine=$(command -v wine64 || command -v wine || true)
if [ -z "$wine" ] && [ -x /usr/lib/wine/wine64 ]; then
    wine=/usr/lib/wine/wine64
fi
if [ -z "$wine" ]; then
    echo "error: wine is not installed (apt-get install wine64)" >&2
    exit 1
fi

if [ ! -d "$build_dir" ]; then
    "$here/cross-windows.sh"
fi
MINGW_TRIPLET=x86_64-w64-mingw32 cmake -S "$root" -B "$build_dir" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" >/dev/null
MINGW_TRIPLET=x86_64-w64-mingw32 cmake --build "$build_dir" -j"$(nproc)"

# A private wine prefix, without the debug chatter.
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
cd "$build_dir"
ctest -R '^norvawrapper_' --output-on-failure
