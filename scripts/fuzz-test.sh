#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz) with clang in a folder of their
# own, the libraries under them instrumented for coverage, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs each for a bounded time. The
# committed seed corpus is copied first, so the run never grows it. Any
# finding fails the run; its input is kept in <build>-fuzz/fuzz-run/<target>/.
#
# FUZZ_SECONDS sets the time per target (60 by default).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build_dir=${BUILD_DIR:-$root/build}-fuzz
seconds=${FUZZ_SECONDS:-60}
targets=(boardpackets description scenario recording)
# The longest input per target: a touch packet split in three (75 contacts,
# prefixed), the whole 1128-byte device record, a scenario of some 100 lines,
# a recording of some 100 lines.
declare -A max_len=([boardpackets]=600 [description]=1200 [scenario]=4096 [recording]=4096)

# Debug keeps Qt's inline range assertions (QByteArray::at) and the standard
# library's; -O1 keeps the runs fast enough.
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -D_GLIBCXX_ASSERTIONS"
CC=clang CXX=clang++ cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
    -DVISUALVIEW_FUZZ=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"

export UBSAN_OPTIONS="print_stacktrace=1 ${UBSAN_OPTIONS:-}"
run_dir=$build_dir/fuzz-run
summary=()
for target in "${targets[@]}"; do
    work=$run_dir/$target
    rm -rf "$work"
    mkdir -p "$work/corpus"
    cp "$root/tests/fuzz/corpus/$target/"* "$work/corpus/"
    options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${max_len[$target]}"
        -print_final_stats=1 -artifact_prefix="$work/")
    if [ -f "$root/tests/fuzz/$target.dict" ]; then
        options+=(-dict="$root/tests/fuzz/$target.dict")
    fi
    echo "== fuzz_$target for ${seconds} s"
    status=0
    "$build_dir/bin/fuzz_$target" "${options[@]}" "$work/corpus" >"$work/log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$work/log" >&2
        echo "error: fuzz_$target found a fault (exit $status); input and log in $work" >&2
        exit 1
    fi
    summary+=("fuzz_$target: ${runs:-?} executions in ${seconds} s")
done
printf '%s\n' "${summary[@]}"
