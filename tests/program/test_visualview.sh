#!/usr/bin/env bash
# Runs the visualiser as a user meets it: on a 1920x1080 virtual screen with
# a window manager, driven by xdotool, checked on screenshots.
# Usage: test_visualview.sh <path of visualview>
set -euo pipefail

program=${1:?usage: test_visualview.sh <path of visualview>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/shutdown.sh"
start_screen
echo "virtual screen on $DISPLAY"

# Starts the program and waits for its full-screen window.
start_program() {
    "$program" >"$work/stdout" 2>"$work/stderr" &
    program_pid=$!
    pids+=($program_pid)
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$program_pid" | head -n1) ||
        fail "no window of visualview appeared"
    wait_for 10 is_full_screen || fail "the window is $(geometry), not 1920x1080"
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
}

# Waits for the program to end and checks that it ended well.
expect_exit_0() {
    local status=0
    wait_for 10 exited || fail "visualview did not exit on $1"
    wait "$program_pid" || status=$?
    [ $status -eq 0 ] || fail "visualview exited with status $status: $(cat "$work/stderr")"
    echo "exit status 0 after $1"
}

geometry() { xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: //p'; }
is_full_screen() { [ "$(geometry)" = 1920x1080 ]; }
exited() { ! kill -0 "$program_pid" 2>/dev/null; }

start_program

shot() { import -window root "$work/$1.png"; }
# The darkest grey level (0 to 255) inside a rectangle WxH+X+Y of a screenshot.
darkest() { convert "$work/$1.png" -crop "$2" -colorspace Gray -format '%[fx:int(255*minima)]' info:; }
pixel() { convert "$work/$1.png" -format "%[pixel:p{$2}]" info:; }

# The lightest grey level inside a rectangle: the screen is black until the
# window has painted.
lightest() { convert "$work/$1.png" -crop "$2" -colorspace Gray -format '%[fx:int(255*maxima)]' info:; }
help_shown() {
    shot start && [ "$(lightest start 700x380+1200+580)" -eq 255 ] &&
        [ "$(darkest start 28x28+2+2)" -lt 64 ] && [ "$(darkest start 500x40+0+0)" -lt 64 ]
}
wait_for 10 help_shown || fail "no help text at the top left of the screen"
[ "$(darkest start 700x380+1200+580)" -eq 255 ] || fail "something besides the help text is drawn"
# With no board, the words that say so at the bottom.
[ "$(darkest start 1000x60+460+990)" -lt 64 ] || fail "no notice of the missing board"
echo "full screen with the help text, and the notice that no board is present"

# Drags the mouse with its left button from 300,700 to 700,700.
draw_stroke() {
    xdotool mousemove 300 700 mousedown 1
    for x in 340 380 420 460 500 540 580 620 660 700; do
        xdotool mousemove "$x" 700
    done
    xdotool mouseup 1
}

xdotool key g
draw_stroke

# The red stroke lies over the dotted grid; cells away from both stay white.
stroke_over_grid() {
    shot drawn &&
        [ "$(pixel drawn 350,700)" = "srgb(255,0,0)" ] &&
        [ "$(pixel drawn 650,700)" = "srgb(255,0,0)" ] &&
        [ "$(darkest drawn 2x60+319+480)" -lt 160 ] &&
        [ "$(darkest drawn 60x2+500+479)" -lt 160 ] &&
        [ "$(pixel drawn 336,496)" = "srgb(255,255,255)" ]
}
wait_for 10 stroke_over_grid ||
    fail "no red stroke over the grid (pixel at 350,700: $(pixel drawn 350,700))"
# Inside the first grid cells, where the help text's first letters were.
[ "$(darkest drawn 28x28+2+2)" -eq 255 ] && [ "$(darkest drawn 28x28+34+2)" -eq 255 ] ||
    fail "the help text is still shown under the grid"
echo "red stroke over the grid"

xdotool key Escape
expect_exit_0 Escape

# Return leaves full screen for a window of two thirds of the screen, centred
# (its frame aside), which the patterns fill; the window manager's close then
# ends the program like Escape.
start_program
xdotool key Return
is_normal() { ! is_full_screen; }
wait_for 10 is_normal || fail "Return did not leave full screen"
wait_for 10 test "$(geometry)" = 1280x720 || fail "Return gave a window of $(geometry), not 1280x720"
# Where its inside is on the screen (xdotool's position counts the frame in).
x=$(xwininfo -id "$window" | sed -n 's/^ *Absolute upper-left X: *//p')
y=$(xwininfo -id "$window" | sed -n 's/^ *Absolute upper-left Y: *//p')
[ "${x#-}" -ge 318 ] && [ "$x" -le 322 ] && [ "${y#-}" -ge 178 ] && [ "$y" -le 182 ] ||
    fail "the 1280x720 window is at $x,$y, not centred"
xdotool key b
# Black to its corners, the notice of the missing board apart.
filled() {
    shot normal && [ "$(lightest normal "1280x500+$x+$y")" -eq 0 ] &&
        [ "$(lightest normal "20x20+$x+$((y + 700))")" -eq 0 ] &&
        [ "$(lightest normal "20x20+$((x + 1260))+$((y + 700))")" -eq 0 ] &&
        [ "$(lightest normal "1280x30+$x+$((y - 30))")" -gt 0 ]
}
wait_for 10 filled || fail "the black pattern does not fill the 1280x720 window at $x,$y"
xdotool key b
xdotool key Return
wait_for 10 is_full_screen || fail "Return did not go back to full screen"
xdotool key Return
wait_for 10 is_normal || fail "Return did not leave full screen the second time"
echo "Return switches between full screen and a $(geometry) window"
xdotool key alt+F4
expect_exit_0 "closing the window"

# The simulated board's demo: its strokes appear, Escape ends the program and
# the board is given back to the system before the driver is detached.
export NORVABOARD_SCENARIO=demo NORVABOARD_LOG="$work/calls.log"
start_program
# Pure red and pure green pixels: the pen's circle and the fingers' waves.
count() { convert "$work/$1.png" -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:int(mean*w*h)]' info:; }
demo_drawn() { shot demo && [ "$(count demo '#ff0000')" -gt 2000 ] && [ "$(count demo '#00ff00')" -gt 2000 ]; }
wait_for 20 demo_drawn || fail "the demo's strokes did not appear ($(count demo '#ff0000') red, $(count demo '#00ff00') green pixels)"
echo "the demo draws: $(count demo '#ff0000') red and $(count demo '#00ff00') green pixels"
xdotool key Escape
expect_exit_0 "Escape in the demo"
unset NORVABOARD_SCENARIO NORVABOARD_LOG

grep -qx 'Found device that supports up to 4 pens & 20 touches.' "$work/stdout" &&
    grep -qx 'Enumerated 1 devices.' "$work/stdout" ||
    fail "unexpected standard output: $(cat "$work/stdout")"
expect_shutdown "$work/calls.log"

# The board's pen 0 draws a line at y = 270 and pauses twice while it is down:
# the mouse hovers during the first pause and drags during the second. The
# mouse is pen 0's id too, yet neither touches the other's stroke.
cat >"$work/pen.scenario" <<SCENARIO
board 1 hid<PEN> xp<4> xt<20>
wait callback 1
wait file $work/pen-start
repeat 30
  pen 0 3413..10240 8192 tip
  wait 10
end
wait file $work/hovered
repeat 30
  pen 0 10923..17749 8192 tip
  wait 10
end
wait file $work/dragged
repeat 30
  pen 0 18432..25259 8192 tip
  wait 10
end
pen 0 25259 8192
SCENARIO
export NORVABOARD_SCENARIO=$work/pen.scenario
start_program
xdotool key h
touch "$work/pen-start"
red_at() { [ "$(pixel "$1" "$2")" = "srgb(255,0,0)" ]; }
pen_at() { shot pen && red_at pen "$1"; }
wait_for 10 pen_at 590,271 || fail "the board's pen did not draw"
xdotool mousemove 1500 900 mousemove 1400 950
touch "$work/hovered"
wait_for 10 pen_at 1030,271 || fail "the board's pen did not go on after the mouse hovered"
draw_stroke
touch "$work/dragged"
wait_for 10 pen_at 1470,271 || fail "the board's pen did not go on after the mouse dragged"
# One whole line across both pauses, the mouse's own stroke, and nothing
# between the pen's pauses and where the mouse went.
for point in 620,271 1060,271 350,700 650,700; do
    red_at pen "$point" || fail "no red at $point: $(pixel pen "$point")"
done
for point in 1050,585 1000,610 670,485 820,485; do
    ! red_at pen "$point" || fail "a line joins the pen and the mouse at $point"
done
xdotool key Escape
expect_exit_0 "Escape after the pen and the mouse drew"
unset NORVABOARD_SCENARIO
echo "the board's pen and the mouse draw apart"

# A board gone wrong floods the program with random packets and
# plug-and-play changes: it stays responsive, and Escape ends it at once
# rather than after the backlog.
export NORVABOARD_SCENARIO=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../bench" && pwd)/flood.scenario
start_program
flooding() { grep -q 'PnP event' "$work/stdout"; }
wait_for 20 flooding || fail "the flood did not start"
xdotool key Escape
expect_exit_0 "Escape during a flood"
unset NORVABOARD_SCENARIO
echo "Escape ends the program during a flood"

# Without the driver library: the program alone in a folder, so that its
# $ORIGIN holds no library, and none on the library path. It starts full
# screen, the mouse draws, Escape ends it, and no board is reported.
mkdir "$work/alone"
cp "$program" "$work/alone/visualview"
program=$work/alone/visualview
unset LD_LIBRARY_PATH
start_program
draw_stroke
stroke_drawn() {
    shot alone && [ "$(pixel alone 350,700)" = "srgb(255,0,0)" ] &&
        [ "$(pixel alone 650,700)" = "srgb(255,0,0)" ]
}
wait_for 10 stroke_drawn || fail "no red stroke without the driver library"
xdotool key Escape
expect_exit_0 "Escape without the driver library"
[ ! -s "$work/stdout" ] || fail "a board was reported without the driver library: $(cat "$work/stdout")"
echo "without the driver library: full screen, the mouse draws, no board reported"
