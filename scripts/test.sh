#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and runs the whole test suite;
# with --quick, only the plain suite (no packages, sanitizers, Windows builds
# or fuzzing).
set -euo pipefail

quick=false
case ${1:-} in
--quick) quick=true ;;
"") ;;
*)
    echo "usage: test.sh [--quick]" >&2
    exit 2
    ;;
esac

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}

"$here/setup.sh"
# The Windows program's tests (label windows) run below, after its build.
(cd "$build_dir" && ctest --output-on-failure -LE windows)
if $quick; then
    exit 0
fi
# The packages, built from a clean tree and tried as a person installs them:
# the Debian package with apt-get, which needs root (CI is root), each
# Windows zip unpacked.
if [ "$(id -u)" -eq 0 ]; then
    mapfile -t packages < <("$here/package.sh")
    for package in "${packages[@]}"; do
        case $package in
        *.deb) bash "$root/tests/package/test_package.sh" "$package" ;;
        *.zip) bash "$root/tests/package/test_zip.sh" "$package" ;;
        esac
    done
else
    echo "Skipping the package test: it installs the package with apt-get, which needs root"
fi
# Every test again under AddressSanitizer and UndefinedBehaviorSanitizer.
"$here/asan-test.sh"
# The threaded tests again under ThreadSanitizer, then the Windows cross build.
"$here/tsan-test.sh"
"$here/cross-windows.sh"
# The Windows program under wine, for each architecture that has Qt for
# Windows on this machine. Building that Qt takes about half an hour on 2
# cores, more than a CI run can spare, so CI does not build it.
built=()
for arch in x86_64 i686; do
    if "$here/build-qt-windows.sh" --prefix "$arch" >/dev/null; then
        built+=("$arch")
    fi
done
if [ ${#built[@]} -gt 0 ]; then
    "$here/build-windows.sh" "${built[@]}"
    (cd "$build_dir" && ctest --output-on-failure -L windows)
else
    echo "Skipping the Windows program test: no Qt for Windows in $("$here/build-qt-windows.sh" --prefix x86_64 || true), and building it (scripts/build-windows.sh) takes about 30 minutes on 2 cores, too long for a CI run"
fi
# The fuzz targets, a minute each.
"$here/fuzz-test.sh"
