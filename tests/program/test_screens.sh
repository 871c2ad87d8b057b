#!/usr/bin/env bash
# The visualiser on a desk of two screens, a whiteboard beside a laptop's:
# Debian's dummy video driver under Xorg gives two outputs, which xrandr
# places side by side, the second one smaller. --list-screens lists them,
# --screen and VISUALVIEW_SCREEN open the window full screen on the one
# chosen, and the board's contacts land on that one. Skipped where Xorg
# cannot start (it needs root and the package xserver-xorg-video-dummy).
# Usage: test_screens.sh <path of visualview>
set -euo pipefail

program=${1:?usage: test_screens.sh <path of visualview>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"
for tool in Xorg xrandr; do
    command -v "$tool" >/dev/null ||
        fail "$tool is missing (install xserver-xorg-video-dummy and x11-xserver-utils)"
done

cat >"$work/xorg.conf" <<'CONF'
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0 - 1000.0
    VertRefresh 5.0 - 200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 3200 1080
    EndSubSection
EndSection
CONF
Xorg -displayfd 3 -config "$work/xorg.conf" -noreset -nolisten tcp -logfile "$work/xorg.log" \
    3>"$work/display" >"$work/xorg.out" 2>&1 &
xorg=$!
pids+=($xorg)
started_or_ended() { [ -s "$work/display" ] || ! kill -0 "$xorg" 2>/dev/null; }
wait_for 15 started_or_ended || true
if [ ! -s "$work/display" ]; then
    echo "SKIP: Xorg with the dummy video driver does not start here: $(grep -m1 -E '\(EE\)|error' "$work/xorg.out" || tail -n1 "$work/xorg.out")"
    exit 77
fi
export DISPLAY=":$(head -n1 "$work/display")"
xrandr --output DUMMY0 --mode 1920x1080 --pos 0x0
xrandr --addmode DUMMY1 1280x1024
xrandr --output DUMMY1 --mode 1280x1024 --pos 1920x0
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_for 10 wm_running || fail "openbox did not start: $(cat "$work/openbox.log")"
# Qt, started at once, may still find one.
two_monitors() { [ "$(xrandr --listmonitors | head -n1)" = "Monitors: 2" ]; }
wait_for 10 two_monitors || fail "xrandr did not make two monitors: $(xrandr --listmonitors)"
echo "two screens on $DISPLAY"

"$program" --list-screens >"$work/screens"
grep -qxE '1 DUMMY0 1920x1080\+0\+0 [1-9][0-9]*x[1-9][0-9]* mm primary' "$work/screens" &&
    grep -qxE '2 DUMMY1 1280x1024\+1920\+0 [1-9][0-9]*x[1-9][0-9]* mm' "$work/screens" &&
    [ "$(wc -l <"$work/screens")" -eq 2 ] || fail "--list-screens: $(cat "$work/screens")"
echo "--list-screens: $(tr '\n' ';' <"$work/screens")"

# The board's pen 0 draws along its middle, from a quarter to three quarters
# across, once the window is up.
cat >"$work/pen.scenario" <<SCENARIO
board 1 hid<PEN> xp<4> xt<20>
wait callback 1
wait file $work/pen-start
repeat 30
  pen 0 8192..24576 16384 tip
  wait 10
end
pen 0 24576 16384
SCENARIO
export NORVABOARD_SCENARIO=$work/pen.scenario

# Starts the program with the arguments given and waits for its window to
# fill the second screen.
start_on_second() {
    "$program" "$@" >"$work/stdout" 2>"$work/stderr" &
    program_pid=$!
    pids+=($program_pid)
    window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$program_pid" | head -n1) ||
        fail "no window of visualview appeared: $(cat "$work/stderr")"
    on_second() { xdotool getwindowgeometry "$window" | tr -d '\n' | grep -q 'Position: 1920,0 .*Geometry: 1280x1024'; }
    wait_for 10 on_second || fail "visualview $*: the window is at $(xdotool getwindowgeometry "$window" | tr '\n' ' ')"
}
stop() {
    kill "$program_pid"
    wait "$program_pid" 2>/dev/null || true
}

start_on_second --screen dummy1
touch "$work/pen-start"
# The line at half the second screen's height, from 1920 + 320 to 1920 + 960;
# nothing red on the first screen.
red() { convert "$work/shot.png" -crop "$1" -fill black +opaque '#ff0000' -fill white -opaque '#ff0000' -format '%[fx:int(mean*w*h)]' info:; }
drawn() {
    import -window root "$work/shot.png" &&
        [ "$(red 600x1+2280+512)" -eq 600 ]
}
wait_for 10 drawn || fail "the pen's line is not on the second screen: $(red 640x1+2240+512) red pixels at its place"
[ "$(red 1920x1080+0+0)" -eq 0 ] || fail "red on the first screen: $(red 1920x1080+0+0) pixels"
stop
echo "--screen dummy1: full screen on the second screen, the pen's line across its middle"

unset NORVABOARD_SCENARIO
VISUALVIEW_SCREEN=2 start_on_second
stop
echo "VISUALVIEW_SCREEN=2: full screen on the second screen"
