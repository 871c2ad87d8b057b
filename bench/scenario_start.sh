#!/usr/bin/env bash
# How soon a scenario starts and what memory it takes, for a large one (3
# million raw lines, 84 MB) and a small one (1,000 lines): bench/scenario_start
# attaches the library, waits for the first packet, lets the scenario play
# for 2 s and detaches. Three runs each, medians. Given a second library, both
# run in turn in the same session.
#
# Usage: bench/scenario_start.sh <build>/bin/scenario_start <libnorvaboardex.so> [<baseline .so>]
set -euo pipefail

runs=${RUNS:-3}
play_ms=${PLAY_MS:-2000}
[ $# -ge 2 ] || { echo "usage: $0 <scenario_start> <library> [<baseline library>]" >&2; exit 2; }
program=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One board; the packets follow its callback, as fast as the library sends.
scenario() {
    echo "board 1 hid<BENCH> vid<1f2e> pid<0042> xp<4> xt<20> xl<1>"
    echo "wait callback 1"
    awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) print "raw 08 21 00 34 12 78 56 0b" }'
}
scenario 3000000 >"$work/large.scenario"
scenario 1000 >"$work/small.scenario"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
figure() { sed -n "s/.*$1 \([0-9.-]*\).*/\1/p"; }

echo "large: $(($(wc -c <"$work/large.scenario") / 1000000)) MB; $runs runs each, medians; played ${play_ms} ms"
for library in "$@"; do
    for size in large small; do
        : >"$work/runs"
        for _ in $(seq "$runs"); do
            NORVABOARD_SCENARIO=$work/$size.scenario "$program" "$library" "$play_ms" >>"$work/runs"
        done
        printf '%s, %s: attach %s ms, first packet %s ms, detach %s ms, peak %s kB\n' \
            "$library" "$size" \
            "$(figure attach <"$work/runs" | median)" \
            "$(figure 'first packet' <"$work/runs" | median)" \
            "$(figure detach <"$work/runs" | median)" \
            "$(figure peak <"$work/runs" | median)"
    done
done
