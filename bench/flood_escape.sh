#!/usr/bin/env bash
# How long Escape takes to end the real program while a board floods it
# (bench/flood.scenario), on a 1920x1080 Xvfb screen with openbox: Escape
# is pressed 2, 5 and 9 s into the flood; the time to the program's exit and
# its peak memory are reported. Given two builds, both run in turn.
#
# Usage: bench/flood_escape.sh <visualview> [<baseline visualview>]
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
programs=("$@")
[ ${#programs[@]} -ge 1 ] || { echo "usage: $0 <visualview> [<baseline visualview>]" >&2; exit 2; }
# A program that has not ended this long after Escape is stopped.
patience=${PATIENCE:-60}

source "$(dirname "${BASH_SOURCE[0]}")/../scripts/xsession.sh"
start_screen

for program in "${programs[@]}"; do
    for after in 2 5 9; do
        NORVABOARD_SCENARIO=$here/flood.scenario "$program" >/dev/null 2>"$work/stderr" &
        pid=$!
        pids+=($pid)
        window=$(timeout 10 xdotool search --sync --onlyvisible --pid "$pid" | head -n1)
        xdotool windowactivate --sync "$window" 2>/dev/null || true
        sleep "$after"
        peak=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
        start=$(date +%s.%N)
        xdotool key Escape
        ended=yes
        while kill -0 "$pid" 2>/dev/null; do
            if (($(echo "$(date +%s.%N) - $start > $patience" | bc))); then
                ended=no
                kill "$pid"
                break
            fi
            sleep 0.02
        done
        wait "$pid" 2>/dev/null || true
        took=$(echo "$(date +%s.%N) - $start" | bc)
        drops=$(grep -c '^Dropped' "$work/stderr" || true)
        if [ $ended = yes ]; then
            printf '%s, Escape %s s into the flood: ended after %.2f s; peak memory %d MB; %s drop runs\n' \
                "$program" "$after" "$took" $((peak / 1024)) "$drops"
        else
            printf '%s, Escape %s s into the flood: not ended after %s s; peak memory %d MB\n' \
                "$program" "$after" "$patience" $((peak / 1024))
        fi
    done
done
