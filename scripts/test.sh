#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and runs the whole test suite.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}

"$here/setup.sh"
(cd "$build_dir" && ctest --output-on-failure)
# Every test again under AddressSanitizer and UndefinedBehaviorSanitizer.
"$here/asan-test.sh"
# The threaded tests again under ThreadSanitizer, then the Windows cross build.
"$here/tsan-test.sh"
"$here/cross-windows.sh"
# The fuzz targets, a minute each.
"$here/fuzz-test.sh"
