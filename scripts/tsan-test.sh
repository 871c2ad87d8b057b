#!/usr/bin/env bash
# Builds the tests labelled "threads" with ThreadSanitizer in a folder of their
# own and runs them; any report fails the run. Qt itself is not instrumented:
# tests/tsan.supp names the reports that come from inside Qt and says why.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}-tsan
flags=-fsanitize=thread

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null

# Only what the threaded tests need: the programs that their commands run
# (the driver libraries they load are dependencies of those).
cd "$build_dir"
mapfile -t targets < <(
    ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: *\(.*\)$/\1/p' | while read -r name; do
        grep -rh --include=CTestTestfile.cmake "^add_test($name " . | grep -o '"[^"]*"' | head -n1
    done | tr -d '"' | xargs -rn1 basename | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
    echo "error: no test is labelled threads" >&2
    exit 1
fi
cmake --build . -j"$(nproc)" --target "${targets[@]}"

# The largest history: under a flood (the load test) the driver's thread runs
# far ahead of the GUI thread, and with a short history the stack of a queued
# signal's argument copy is lost, so its suppression no longer matches.
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp history_size=7 ${TSAN_OPTIONS:-}"
# Address-space randomisation off: ThreadSanitizer needs its fixed layout,
# which kernels with a large mmap entropy break.
setarch "$(uname -m)" -R ctest -L threads --output-on-failure
