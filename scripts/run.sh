#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and starts the visualiser on
# the simulated board's demo, or on the boards that NORVABOARD_SCENARIO and
# NORVABOARD_DEVICES give.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}

"$here/setup.sh"
program="$build_dir/bin/visualview"
if [ ! -x "$program" ]; then
    echo "error: the build did not produce $program" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "error: no display to show the visualiser on (DISPLAY is not set)." >&2
    echo "Run this from a graphical desktop session, or on a virtual screen with a" >&2
    echo "window manager (without one, full screen leaves a small window):" >&2
    echo "    xvfb-run -s '-screen 0 1920x1080x24' sh -c 'openbox & bash scripts/run.sh'" >&2
    exit 1
fi
# Without a scenario, a recording or real devices of the user's own, the
# simulated board plays its demo.
if [ -z "${NORVABOARD_SCENARIO+set}" ] && [ -z "${NORVABOARD_DEVICES+set}" ]; then
    export NORVABOARD_SCENARIO=demo
fi
exec "$program" "$@"
