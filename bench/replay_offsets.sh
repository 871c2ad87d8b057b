#!/usr/bin/env bash
# How close to its offset each packet of a capture comes when the simulated
# board plays it back. boardevents records the demo for 4.5 s, then plays the
# capture back 5 times; for each playback, the deviation of every packet's
# time from the board line from that in the recording: median, 99th
# percentile (nearest rank) and largest, in milliseconds, with the load
# average, as the figures are the machine's as much as the program's.
# Each playback must print the recording's lines in the same order.
#
# Usage: bench/replay_offsets.sh <boardevents>
# The program finds the simulated board beside it. RUNS and SECONDS_RECORDED
# change the number of playbacks and the length of the recording.
set -euo pipefail

program=${1:-}
[ -n "$program" ] || { echo "usage: $0 <boardevents>" >&2; exit 2; }
runs=${RUNS:-5}
seconds=${SECONDS_RECORDED:-4.5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Event lines only: the time, then what came; the first is the board found.
events() { grep -v '^#' "$1"; }

NORVABOARD_SCENARIO=demo "$program" --record "$work/capture.txt" --duration "$seconds" \
    >"$work/recorded.txt"
echo "recorded $(grep -c '^raw ' "$work/capture.txt") packets in $seconds s"
printf '%-8s %8s %8s %8s %8s  %s\n' playback packets median p99 largest load
for run in $(seq "$runs"); do
    # A second more than the recording: the last packets come in time even
    # when the machine holds the program back.
    NORVABOARD_SCENARIO=$work/capture.txt "$program" \
        --duration "$(awk -v s="$seconds" 'BEGIN { print s + 1 }')" >"$work/played.txt"
    if ! diff -q <(events "$work/recorded.txt" | awk '{ $1 = ""; print }') \
        <(events "$work/played.txt" | awk '{ $1 = ""; print }') >/dev/null; then
        echo "playback $run: the lines differ from the recording's" >&2
        exit 1
    fi
    read -r packets median p99 largest < <(
        paste -d ' ' <(events "$work/recorded.txt" | awk '{ print $1 }') \
            <(events "$work/played.txt" | awk '{ print $1 }') |
            awk 'NR == 1 { t0 = $1; p0 = $2 }
                 NR > 2 { d = ($2 - p0) - ($1 - t0); print d < 0 ? -d : d }' |
            sort -g |
            awk '{ d[NR] = $1 } END {
                     n = NR; p = int(0.99 * n); if (p < 0.99 * n) p++
                     printf "%d %.2f %.2f %.2f\n", n, (n % 2 ? d[(n + 1) / 2] : (d[n / 2] + d[n / 2 + 1]) / 2), d[p], d[n] }')
    printf '%-8s %8s %8s %8s %8s  %s\n' "$run" "$packets" "$median" "$p99" "$largest" \
        "$(cut -d ' ' -f 1 /proc/loadavg)"
done
