#!/usr/bin/env bash
# The measurement panel as a user meets it: the simulated board holds a
# finger still and draws a wobbly line along a ruler on a board of 0.5 mm a
# pixel; M shows the panel, its figures in black and none in the green or
# red of a verdict, and the jitter circle round the finger; M again hides
# both.
# Usage: test_measurements.sh <path of visualview>
set -euo pipefail

program=${1:?usage: test_measurements.sh <path of visualview>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"
start_screen
poll_seconds=0.5

# The finger: 0.3 mm of noise round x 480, y 540, held for a second (its
# first half counts for nothing). The pen: 700 mm along y 900 with 2 mm of
# wobble.
cat >"$work/scenario" <<SCENARIO
board 1 hid<MEASURED> xp<4> xt<20>
wait callback 1
wait file $work/ready
repeat 120
  touch 1 down sin(8192,10,7) cos(16384,18,5) 300
  wait 9
end
touch 1 up 8192 16384 300
repeat 100
  pen 0 4000..28000 sin(27307,120,4) tip
  wait 9
end
pen 0 28000 27307
SCENARIO
VISUALVIEW_SIZE_MM=960x540 NORVABOARD_SCENARIO=$work/scenario "$program" \
    >"$work/stdout" 2>"$work/stderr" &
program_pid=$!
pids+=($program_pid)
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$program_pid" | head -n1) ||
    fail "no window of visualview appeared"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
# A contact is drawn and measured only when its first record finds the
# window active.
active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$window" ]; }
wait_for 10 active || fail "the window of visualview did not become active"
xdotool key h m
touch "$work/ready"

shot() { import -window root "$work/$1.png"; }
# Pixels within 8 % of a colour inside a rectangle WxH+X+Y.
count() {
    convert "$work/$1.png" -crop "$2" -fuzz 8% -fill black +opaque "$3" -fill white -opaque "$3" \
        -format '%[fx:int(mean*w*h)]' info:
}
# The grey of a figure that has no value yet: only the panel has it.
none='#6e6e6e'
mark='#005ac8'
verdicts() { echo $(($(count "$1" $panel '#008c00') + $(count "$1" $panel '#d20000'))); }
# The panel's box at the top right, below the top row of targets.
panel=900x340+1020+130
# Round the finger, outside its own mark and above the circle's label: the
# circle, in the colour of what is measured.
circle=80x60+440+500
measured() {
    shot shown && [ "$(count shown $panel $none)" -gt 100 ] &&
        [ "$(count shown $circle $mark)" -gt 60 ] && [ "$(verdicts shown)" -eq 0 ]
}
wait_for 20 measured || fail "no panel of figures and jitter circle, or a verdict's colour: \
$(count shown $panel $none) grey pixels in the panel and $(verdicts shown) green or red, \
$(count shown $circle $mark) round the finger"
echo "panel: $(count shown $panel $none) grey pixels, none green or red;" \
    "jitter circle: $(count shown $circle $mark) pixels"

xdotool key m
hidden() { shot hidden && [ "$(count hidden $circle $mark)" -eq 0 ] &&
    [ "$(count hidden $panel $none)" -eq 0 ]; }
wait_for 10 hidden || fail "M did not hide the panel and the circle"
echo "M hides them again"

xdotool key Escape
status=0
wait "$program_pid" || status=$?
[ $status -eq 0 ] || fail "visualview exited with status $status: $(cat "$work/stderr")"
