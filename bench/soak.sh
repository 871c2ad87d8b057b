#!/usr/bin/env bash
# The resident memory of the real program over a long session: on a
# 1920x1080 Xvfb screen with openbox, info tags on, the simulated board
# reports 4 pens and 20 touches at 200 reports a second each (4,800 contact
# reports a second), all moving round and round and never lifting, for the
# given number of minutes; the resident set is read every 10 s. Prints the
# samples, then the growth from the end of the first minute to the end, a
# minute's worth, and the program's exit status.
#
# Usage: bench/soak.sh <visualview> [<minutes>]      (30 by default)
#
# LIFTS=1: every contact lifts at the end of each 3 s round and touches down
# again at once, so that finished strokes pile up rather than strokes still
# being drawn.
# HEAPTRACK=<file>: the program runs under heaptrack, which writes its
# profile to <file>.zst; `heaptrack_print -f <file>.zst` then tells what
# holds the heap at its peak, by the code that allocated it. The program is
# slower under it: the figures of such a run are for telling what grows, not
# how much.
#
# The program finds the simulated board beside it, as it would at home.
set -euo pipefail

program=${1:-}
minutes=${2:-30}
[ -n "$program" ] || { echo "usage: $0 <visualview> [<minutes>]" >&2; exit 2; }
program=$(realpath "$program")

source "$(dirname "${BASH_SOURCE[0]}")/../scripts/xsession.sh"
start_screen

# Each round of 600 reports a contact (3 s) goes once round its circle, a
# pen 5000 board units across, a finger 1800.
rounds=$((minutes * 20))
{
    echo "board 1 hid<SOAK> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>"
    echo "wait callback 1"
    echo "wait file $work/ready"
    echo "repeat $rounds"
    echo "  repeat 600"
    for pen in 0 1 2 3; do
        echo "    pen $pen cos($((8000 + pen % 2 * 16000)),5000) sin($((8000 + pen / 2 * 16000)),5000) tip"
    done
    line="    touch"
    separator=""
    for id in $(seq 0 19); do
        line+="$separator $id down sin($((3000 + id % 5 * 6500)),1800,2) cos($((4000 + id / 5 * 7500)),1800,2) 300"
        separator=";"
    done
    echo "$line"
    echo "    wait 5"
    echo "  end"
    if [ "${LIFTS:-0}" = 1 ]; then
        for pen in 0 1 2 3; do
            echo "  pen $pen $((13000 + pen % 2 * 16000)) $((8000 + pen / 2 * 16000))"
        done
        line="  touch"
        separator=""
        for id in $(seq 0 19); do
            line+="$separator $id up $((3000 + id % 5 * 6500)) $((5800 + id / 5 * 7500)) 300"
            separator=";"
        done
        echo "$line"
    fi
    echo "end"
} >"$work/soak.scenario"

export NORVABOARD_SCENARIO=$work/soak.scenario
if [ -n "${HEAPTRACK:-}" ]; then
    # Its dlopen wrapper becomes the caller, whose run path is not the
    # program's: the simulated board's folder is named instead.
    LD_LIBRARY_PATH=$(dirname "$program")${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} \
        heaptrack -o "$HEAPTRACK" "$program" >"$work/out.log" 2>&1 &
else
    "$program" >"$work/out.log" 2>&1 &
fi
launcher=$!
pids+=($launcher)
window=$(timeout 60 xdotool search --sync --onlyvisible --classname visualview | head -n1) ||
    fail "the program showed no window: $(cat "$work/out.log")"
pid=$(xdotool getwindowpid "$window")
xdotool windowactivate --sync "$window" 2>/dev/null || true
sleep 1
touch "$work/ready"

rss_mb() { awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$pid/status" 2>/dev/null; }

echo "seconds resident_MB"
start=$SECONDS
samples=()
end=$((minutes * 60))
for ((at = 0; at <= end; at += 10)); do
    while [ $((SECONDS - start)) -lt $at ]; do sleep 1; done
    rss=$(rss_mb)
    [ -n "$rss" ] || fail "the program ended after $((SECONDS - start)) s: $(cat "$work/out.log")"
    samples+=("$at $rss")
    echo "$at $rss"
done

xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key Escape
status=0
wait "$launcher" || status=$?
printf '%s\n' "${samples[@]}" | awk -v minutes="$minutes" '
    $1 == 60 { first = $2 }
    { last = $2 }
    END {
        if (minutes > 1)
            printf "after the first minute: %.1f MB to %.1f MB, %.2f MB a minute\n",
                first, last, (last - first) / (minutes - 1)
    }'
echo "exit status $status"
grep -v '^Enumerated\|^Found device\|^PnP' "$work/out.log" | head -n 20 || true
[ $status -eq 0 ]
