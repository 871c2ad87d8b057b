#!/usr/bin/env bash
# The share of one core that the real program uses while a board reports
# 4 pens and 20 touches at 200 reports a second each, all moving, info tags
# on: on a 1920x1080 Xvfb screen with openbox, 10 s measured from the
# process's CPU time, three runs per build, the median reported with the
# split by thread. Several builds run in turn in the same session, and the
# screenshots of the scenario's end of those given the same keys must be
# identical.
#
# Usage: bench/cpu_share.sh <visualview>[:<keys>] [<another visualview>[:<keys>] ...]
# The keys, xdotool key names separated by spaces, are pressed once the
# window is up, before the board starts: build/bin/visualview:'h m'
# measures with the help off and the measurement panel shown, and 'h' alone
# lets builds whose help screens differ compare their screens. Each program
# finds the simulated board beside it, as it would at home.
set -euo pipefail

runs=${RUNS:-3}
seconds=${SECONDS_MEASURED:-10}
builds=("$@")
[ ${#builds[@]} -ge 1 ] || { echo "usage: $0 <visualview>[:<keys>] ..." >&2; exit 2; }

source "$(dirname "${BASH_SOURCE[0]}")/../scripts/xsession.sh"
start_screen

# 200 rounds a second for the measured time and two more seconds; every
# contact stays down and ends at a fixed place, so that the last screen is
# the same whatever the timing.
rounds=$(((seconds + 2) * 200))
{
    echo "board 1 hid<LOAD> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>"
    echo "wait callback 1"
    echo "wait file $work/ready"
    echo "repeat $rounds"
    for pen in 0 1 2 3; do
        echo "  pen $pen cos($((8000 + pen % 2 * 16000)),5000,3) sin($((8000 + pen / 2 * 16000)),5000,3) tip"
    done
    line="  touch"
    separator=""
    for id in $(seq 0 19); do
        line+="$separator $id down sin($((3000 + id % 5 * 6500)),1800,2) cos($((4000 + id / 5 * 7500)),1800,2) 300"
        separator=";"
    done
    echo "$line"
    echo "  wait 5"
    echo "end"
} >"$work/load.scenario"

ticks=$(getconf CLK_TCK)
# CPU ticks (user + system) of a process or thread from its stat file.
cpu_ticks() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "$1" 2>/dev/null || echo 0; }

# Runs one build once; prints "<share> <gui> <pool> <other>" in percent of
# one core and leaves the last screen in $work/<name>.png.
measure() {
    local program=${1%%:*} keys= name=$2
    [[ $1 != *:* ]] || keys=${1#*:}
    rm -f "$work/ready"
    NORVABOARD_SCENARIO=$work/load.scenario "$program" >/dev/null 2>&1 &
    local pid=$!
    pids+=($pid)
    local window
    window=$(timeout 10 xdotool search --sync --onlyvisible --pid "$pid" | head -n1)
    xdotool windowactivate --sync "$window" 2>/dev/null || true
    [ -z "$keys" ] || xdotool key $keys
    sleep 1
    touch "$work/ready"
    sleep 1
    declare -A before
    local task
    for task in /proc/$pid/task/*; do before[$task]=$(cpu_ticks "$task/stat"); done
    local start_all
    start_all=$(cpu_ticks /proc/$pid/stat)
    local t0
    t0=$(date +%s.%N)
    sleep "$seconds"
    local t1
    t1=$(date +%s.%N)
    local total gui=0 pool=0 other=0 used comm
    total=$(($(cpu_ticks /proc/$pid/stat) - start_all))
    for task in /proc/$pid/task/*; do
        used=$(($(cpu_ticks "$task/stat") - ${before[$task]:-0}))
        comm=$(cat "$task/comm")
        if [ "${task##*/}" = "$pid" ]; then
            gui=$((gui + used))
        elif [[ $comm == *pooled* ]]; then
            pool=$((pool + used))
        else
            other=$((other + used))
        fi
    done
    # The rest of the scenario, then its last screen.
    sleep 3
    import -window root "$work/$name.png"
    xdotool key Escape
    wait "$pid" || true
    awk -v t="$total" -v g="$gui" -v p="$pool" -v o="$other" -v hz="$ticks" -v w="$(echo "$t1 - $t0" | bc)" \
        'BEGIN { printf "%.1f %.1f %.1f %.1f\n", 100*t/hz/w, 100*g/hz/w, 100*p/hz/w, 100*o/hz/w }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "share of one core, $seconds s a run, $runs runs: total (GUI thread, refresh pool, other threads)"
for ((b = 0; b < ${#builds[@]}; b++)); do
    : >"$work/results.$b"
done
for ((r = 1; r <= runs; r++)); do
    for ((b = 0; b < ${#builds[@]}; b++)); do
        measure "${builds[b]}" "shot.$b.$r" >>"$work/results.$b"
    done
done
for ((b = 0; b < ${#builds[@]}; b++)); do
    med=$(cut -d' ' -f1 "$work/results.$b" | median)
    row=$(awk -v m="$med" '$1 == m { print; exit }' "$work/results.$b")
    read -r total gui pool other <<<"$row"
    echo "${builds[b]}: median $total % (GUI $gui %, pool $pool %, other $other %); runs: $(cut -d' ' -f1 "$work/results.$b" | paste -sd' ')"
done
# SHOTS=<folder> keeps the last screens.
[ -z "${SHOTS:-}" ] || cp "$work"/shot.*.png "$SHOTS"/
status=0
declare -A first
for ((b = 0; b < ${#builds[@]}; b++)); do
    keys=
    [[ ${builds[b]} != *:* ]] || keys=${builds[b]#*:}
    if [ -z "${first[x$keys]:-}" ]; then
        first[x$keys]=$b
        continue
    fi
    a=${first[x$keys]}
    difference=$(compare -metric AE "$work/shot.$a.1.png" "$work/shot.$b.1.png" null: 2>&1 || true)
    echo "pixels that differ between the last screens of ${builds[a]} and ${builds[b]}: $difference"
    [ "$difference" = 0 ] || status=1
done
exit $status
