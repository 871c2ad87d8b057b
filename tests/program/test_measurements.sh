#!/usr/bin/env bash
# The measurement panel as a user meets it: the simulated board holds a
# finger still and draws a wobbly line along a ruler on a board of 0.5 mm a
# pixel; M shows the panel, with the figures judged in green and red, and
# the jitter circle round the finger; M again hides both.
# Usage: test_measurements.sh <path of visualview>
set -euo pipefail

program=${1:?usage: test_measurements.sh <path of visualview>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"
start_screen
poll_seconds=0.5

# The finger: 0.3 mm of noise round x 480, y 540. The pen: 700 mm along
# y 900 with 2 mm of wobble, beyond the straightness limit of 1 mm.
cat >"$work/scenario" <<SCENARIO
board 1 hid<MEASURED> xp<4> xt<20>
wait callback 1
wait file $work/ready
repeat 60
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
pass='#008c00'
failed='#d20000'
# The panel's box at the top right, below the top row of targets: figures
# within their limits in green (the pen's rate, the jitter), one beyond in
# red (the straightness).
panel=900x340+1020+130
# Round the finger, outside its own mark and above the circle's label: the
# circle, green as its jitter.
circle=80x60+440+500
measured() {
    shot shown && [ "$(count shown $panel $pass)" -gt 100 ] &&
        [ "$(count shown $panel $failed)" -gt 100 ] && [ "$(count shown $circle $pass)" -gt 60 ]
}
wait_for 20 measured || fail "no panel with green and red figures and no jitter circle: \
$(count shown $panel $pass) green and $(count shown $panel $failed) red pixels in the panel, \
$(count shown $circle $pass) green round the finger"
echo "panel: $(count shown $panel $pass) green and $(count shown $panel $failed) red pixels;" \
    "jitter circle: $(count shown $circle $pass) green pixels"

xdotool key m
hidden() { shot hidden && [ "$(count hidden $circle $pass)" -eq 0 ] &&
    [ "$(count hidden $panel $pass)" -eq 0 ]; }
wait_for 10 hidden || fail "M did not hide the panel and the circle"
echo "M hides them again"

xdotool key Escape
status=0
wait "$program_pid" || status=$?
[ $status -eq 0 ] || fail "visualview exited with status $status: $(cat "$work/stderr")"
