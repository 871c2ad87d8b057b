#!/usr/bin/env bash
# Replays real recordings through the visualiser on a 1920x1080 virtual
# screen with a window manager: the ten-finger recording at its recorded pace,
# then every other recording ten times faster, each from a scenario that
# plays it once the window is ready. After each, replaycheck compares a
# screenshot with the recording's translated frames.
# Usage: test_recording.sh <visualview> <replaycheck> <recordings folder>
set -euo pipefail

program=${1:?usage: test_recording.sh <visualview> <replaycheck> <recordings folder>}
check=${2:?}
recordings=${3:?}

source "$(dirname "${BASH_SOURCE[0]}")/../recordings.sh"
require_recordings "$recordings"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"
start_screen
# Each look at the screen takes a screenshot and compares it: not too often.
poll_seconds=0.5

# Qt warns on standard error without a runtime folder of its own.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Replays the recording $1 at $2 times its pace once the window is ready,
# and waits up to $3 seconds for the screen to show it drawn, with nothing
# left of its markers; then Escape ends the program.
replay() {
    local recording=$1 speed=$2 seconds=$3 name
    name=$(basename "$recording")
    rm -f "$work/ready"
    cat >"$work/scenario" <<EOF
board 1 hid<REPLAY> vid<1f2e> pid<0042> xp<1> xt<10>
wait callback 1
wait file $work/ready
play $recording $speed
EOF
    NORVABOARD_SCENARIO=$work/scenario "$program" >"$work/$name.stdout" 2>"$work/$name.stderr" &
    local pid=$!
    pids+=($pid)
    local window
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" | head -n1) ||
        fail "no window of visualview appeared"
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
    # Off with the help text: the strokes are checked on a white background.
    xdotool key h
    # A contact is drawn only when its first record finds the window active.
    active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ]; }
    wait_for 10 active || fail "the window of visualview did not become active"
    touch "$work/ready"
    drawn() {
        import -window root "$work/$name.png" &&
            "$check" "$work/$name.png" "$recording" >"$work/$name.check"
    }
    wait_for "$seconds" drawn ||
        fail "$name is not drawn as recorded: $(cat "$work/$name.check")"
    echo "$name: $(cat "$work/$name.check")"
    xdotool key Escape
    local status=0
    wait "$pid" || status=$?
    [ $status -eq 0 ] || fail "visualview exited with status $status: $(cat "$work/$name.stderr")"
    [ ! -s "$work/$name.stderr" ] || fail "messages on standard error: $(cat "$work/$name.stderr")"
}

# The ten-finger recording at its recorded pace (24 s), the others faster.
ten_fingers=$recordings/touch-display-22in-10-fingers.events
replay "$ten_fingers" 1 60
for recording in "$recordings"/*.evemu "$recordings"/*.events; do
    [ "$recording" = "$ten_fingers" ] || replay "$recording" 10 30
done
