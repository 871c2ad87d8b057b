#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and starts the visualiser.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}

"$here/setup.sh"
program="$build_dir/bin/visualview"
if [ ! -x "$program" ]; then
    echo "error: the visualiser is not built yet: only the packet and contact libraries exist so far" >&2
    exit 1
fi
exec "$program" "$@"
