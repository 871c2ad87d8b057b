#!/usr/bin/env bash
# Starts the Windows program under wine on the current X display with the
# simulated board's demo, as scripts/run.sh does for the Linux program. The
# program finds libnorvaboardex.dll in its own folder, as on a Windows PC.
# Builds it first (scripts/build-windows.sh; the first time also Qt for
# Windows, which takes about half an hour).
#
# Usage: run-windows.sh [x86_64|i686] [arguments of visualview...]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
arch=x86_64
case ${1:-} in
x86_64 | i686)
    arch=$1
    shift
    ;;
esac
build_dir=${BUILD_DIR:-$root/build}-windows-program-$arch

# Debian's wine64 and wine32 packages install their loaders outside PATH;
# the wine package adds a wine command that picks the right one.
wine=$(command -v wine || true)
loader=/usr/lib/wine/wine64
[ "$arch" = x86_64 ] || loader=/usr/lib/wine/wine
if [ -z "$wine" ] && [ -x "$loader" ]; then
    wine=$loader
fi
if [ -z "$wine" ]; then
    echo "error: wine is not installed (apt-get install wine64; for i686 also wine32)" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "error: no X display to show the visualiser on (DISPLAY is not set)." >&2
    echo "Run this from a graphical desktop session, or on a virtual screen with a" >&2
    echo "window manager (without one, full screen leaves a small window):" >&2
    echo "    xvfb-run -s '-screen 0 1920x1080x24' sh -c 'openbox & bash scripts/run-windows.sh'" >&2
    exit 1
fi

"$here/build-windows.sh" "$arch"

# A wine prefix of its own, created without asking to install .NET or Gecko.
export WINEPREFIX=${WINEPREFIX:-$build_dir/wineprefix}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES-mscoree,mshtml=}
export WINEDEBUG=${WINEDEBUG--all}
# Without a scenario of the user's own, the simulated board plays its demo.
export NORVABOARD_SCENARIO=${NORVABOARD_SCENARIO-demo}
exec "$wine" "$build_dir/bin/visualview.exe" "$@"
