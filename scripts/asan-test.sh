#!/usr/bin/env bash
# Builds everything the tests run with AddressSanitizer and
# UndefinedBehaviorSanitizer in a folder of its own, the board library
# included, and runs the whole test suite; the first report fails the run.
# Qt is not instrumented: tests/lsan.supp names the leaks that lie entirely
# inside other libraries and says why.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}-asan
# GCC leaves float-cast-overflow out of "undefined"; board units become
# pixels through such casts. The checked standard library catches an index
# out of range in its containers as well.
flags="-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer -D_GLIBCXX_ASSERTIONS"
# The sanitiser's dlopen wrapper becomes the caller, so the program's own
# run path would not be searched for the driver library: an old-style run
# path counts for every dlopen in the process.
exe_flags="$flags -Wl,--disable-new-dtags"
# -O1 and line tables only: a quicker build, stacks still with file and line.
optimise="-O1 -g1 -DNDEBUG"

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS_RELWITHDEBINFO="$optimise" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$optimise" \
    -DCMAKE_EXE_LINKER_FLAGS="$exe_flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" >/dev/null

# Only what the tests run (not the benchmarks): every target whose output a
# test command names, e.g. tst_quorvel, or visualview for the program test.
# ctest builds nothing itself; the libraries the tests load are dependencies.
cd "$build_dir"
mapfile -t targets < <(
    comm -12 \
        <(grep -rh --include=CTestTestfile.cmake '^add_test(' . |
            grep -o "\"$build_dir/[^\"]*\"" | tr -d '"' | xargs -rn1 basename | sort -u) \
        <(cmake --build . --target help | sed -n 's/^\.\.\. \([^ ]*\).*/\1/p' | sort -u))
if [ ${#targets[@]} -eq 0 ]; then
    echo "error: no test runs a program of this build" >&2
    exit 1
fi
cmake --build . -j"$(nproc)" --target "${targets[@]}"

# Every child sanitised the same way. The slow unwinder on every allocation:
# Qt is built without frame pointers, and a leak's stack must be whole to
# tell whether it lies entirely inside Qt.
# The emulated devices' tests preload umockdev's library ahead of the runtime.
export ASAN_OPTIONS="verify_asan_link_order=0:halt_on_error=1:abort_on_error=1:detect_leaks=1:fast_unwind_on_malloc=0:check_initialization_order=1:detect_stack_use_after_return=1 ${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1 ${UBSAN_OPTIONS:-}"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0 ${LSAN_OPTIONS:-}"
# Not the tests on emulated devices (label emulated): under the sanitiser a
# device that umockdev emulates now and then hands the reader part of an
# event, which no kernel device does, and the reader rightly gives it up.
# The plain suite runs them.
ctest --output-on-failure -j"$(nproc)" -LE emulated
