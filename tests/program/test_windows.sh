#!/usr/bin/env bash
# Runs the Windows program (scripts/build-windows.sh) under wine as a user of
# the board meets it: on a 1920x1080 virtual screen with a window manager,
# with the simulated board's DLL beside it, driven by xdotool and checked on
# screenshots; then the board events tool, ended by Ctrl+C; then the program
# alone in a folder, without the DLL.
# Usage: test_windows.sh <folder of visualview.exe> <x86_64|i686>
# WINEPREFIX, when set, is the wine prefix to use (created if missing).
set -euo pipefail

folder=${1:?usage: test_windows.sh <folder of visualview.exe> <x86_64|i686>}
arch=${2:?usage: test_windows.sh <folder of visualview.exe> <x86_64|i686>}
skip=77

if [ ! -f "$folder/visualview.exe" ]; then
    echo "SKIP: no Windows program in $folder (scripts/build-windows.sh $arch builds it)"
    exit $skip
fi
# Debian's wine64 and wine32 install their loaders outside PATH.
wine=/usr/lib/wine/wine64
[ "$arch" = x86_64 ] || wine=/usr/lib/wine/wine
if [ ! -x "$wine" ]; then
    echo "SKIP: $wine is missing (Debian package $([ "$arch" = x86_64 ] && echo wine64 || echo 'wine32, multiarch i386'))"
    exit $skip
fi
# A kernel without IA-32 emulation cannot start the 32-bit loader.
if ! "$wine" --version >/dev/null 2>&1; then
    echo "SKIP: $wine does not run here (for i686: a kernel without 32-bit emulation)"
    exit $skip
fi
wineserver=/usr/lib/wine/wineserver
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"
source "$(dirname "${BASH_SOURCE[0]}")/shutdown.sh"
# wine's own processes of this prefix would outlive the test; a program still
# starting up may not yet be known to wineserver, and is killed outright.
trap 'status=$?; kill -KILL "${program_pid:-}" 2>/dev/null || true
timeout 10 "$wineserver" -k 2>/dev/null || true; (exit $status); cleanup' EXIT
export WINEPREFIX=${WINEPREFIX:-$work/wineprefix}
# A fresh prefix asks to install .NET and Gecko unless they are turned off;
# wine's errors stay on, for the failure messages.
export WINEDLLOVERRIDES=mscoree,mshtml= WINEDEBUG=fixme-all

# Creating a prefix takes a while; do it before any window is waited for.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating the wine prefix $WINEPREFIX"
    "$wine" wineboot --init >"$work/wineboot.log" 2>&1 || fail "wineboot failed: $(cat "$work/wineboot.log")"
    "$wineserver" -w
fi

start_screen
echo "virtual screen on $DISPLAY"

# Starts visualview.exe from $program and waits for its full-screen window.
start_program() {
    "$wine" "$program" >"$work/stdout" 2>"$work/stderr" &
    program_pid=$!
    pids+=("$program_pid")
    # wine makes and destroys windows while it starts: a search that meets
    # one as it goes fails with an X error, and a window found may go; both
    # are looked for again.
    wait_for 60 find_window || fail "no window of visualview.exe appeared: $(cat "$work/stderr")"
    wait_for 20 full_screen_window || fail "the window is $(geometry), not 1920x1080"
    xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
}

expect_exit_0() {
    local status=0
    wait_for 20 exited || fail "visualview.exe did not exit on $1: $(tail -n 5 "$work/stderr")"
    wait "$program_pid" || status=$?
    [ $status -eq 0 ] || fail "visualview.exe exited with status $status: $(cat "$work/stderr")"
    echo "exit status 0 after $1"
}

find_window() {
    window=$(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | head -n1)
    [ -n "$window" ]
}
geometry() { xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: //p'; }
full_screen_window() { find_window && [ "$(geometry 2>/dev/null)" = 1920x1080 ]; }
exited() { ! kill -0 "$program_pid" 2>/dev/null; }
shot() { import -window root "$work/$1.png"; }
darkest() { convert "$work/$1.png" -crop "$2" -colorspace Gray -format '%[fx:int(255*minima)]' info:; }
pixel() { convert "$work/$1.png" -format "%[pixel:p{$2}]" info:; }
# Pixels of exactly one colour: the pen's red, the fingers' green.
count() { convert "$work/$1.png" -fill black +opaque "$2" -fill white -opaque "$2" -format '%[fx:int(mean*w*h)]' info:; }

# With the simulated board's DLL beside the program and its demo: the help
# text first, then the demo's strokes; G shows the grid, Escape ends it.
program=$folder/visualview.exe
export NORVABOARD_SCENARIO=demo NORVABOARD_LOG="$work/calls.log"
start_program
help_shown() { shot start && [ "$(darkest start 28x28+2+2)" -lt 64 ] && [ "$(darkest start 500x40+0+0)" -lt 64 ]; }
wait_for 20 help_shown || fail "no help text at the top left of the screen"
echo "full screen with the help text"

demo_drawn() { shot demo && [ "$(count demo '#ff0000')" -gt 2000 ] && [ "$(count demo '#00ff00')" -gt 2000 ]; }
wait_for 30 demo_drawn || fail "the demo's strokes did not appear ($(count demo '#ff0000') red, $(count demo '#00ff00') green pixels)"
echo "the demo draws: $(count demo '#ff0000') red and $(count demo '#00ff00') green pixels"

xdotool key g
# Dotted grid lines at x = 320 and y = 480, where the demo never draws; the
# first cells, where the help text began, are white.
grid_shown() {
    shot grid && [ "$(darkest grid 2x60+319+480)" -lt 160 ] && [ "$(darkest grid 60x2+500+479)" -lt 160 ] &&
        [ "$(darkest grid 28x28+2+2)" -eq 255 ] && [ "$(darkest grid 28x28+34+2)" -eq 255 ]
}
wait_for 10 grid_shown || fail "G did not replace the help text with the grid"
echo "G shows the grid"
xdotool key Escape
expect_exit_0 "Escape in the demo"
unset NORVABOARD_SCENARIO NORVABOARD_LOG

# Windows ends the lines of the output with CR LF.
output=$(tr -d '\r' <"$work/stdout")
grep -qx 'Found device that supports up to 4 pens & 20 touches.' <<<"$output" &&
    grep -qx 'Enumerated 1 devices.' <<<"$output" || fail "unexpected standard output: $output"
# Windows ends the lines of the log with CR LF too; the shutdown is as on Linux.
expect_shutdown "$work/calls.log"

# The board events tool with the same DLL: wine hands SIGINT to the console's
# Ctrl+C handler, which ends the session as on Linux: the recording complete,
# the summary printed, the driver detached.
(cd "$work" && NORVABOARD_SCENARIO=demo NORVABOARD_LOG=events-calls.log \
    exec "$wine" "$folder/boardevents.exe" --record capture.txt >events.txt 2>events-err.txt) &
program_pid=$!
pids+=("$program_pid")
pen_printed() { grep -q ' 1001 pen 0 ' "$work/events.txt"; }
wait_for 30 pen_printed || fail "boardevents.exe printed no pen packet: $(cat "$work/events-err.txt")"
kill -INT "$program_pid"
expect_exit_0 "Ctrl+C in boardevents.exe"
events=$(tr -d '\r' <"$work/events.txt")
capture=$(tr -d '\r' <"$work/capture.txt")
printed=$(grep -c '^ *[0-9.]* 1001 pen ' <<<"$events")
recorded=$(grep -c '^raw ' <<<"$capture")
grep -q '^# board 1001 packets ' <<<"$events" || fail "no summary after Ctrl+C: $(tail -n 3 <<<"$events")"
[ "$printed" -eq "$recorded" ] && grep -qx "# $recorded packets in .* ms" <<<"$(tail -n 1 <<<"$capture")" ||
    fail "$printed packets printed, $recorded recorded, the recording ends: $(tail -n 1 <<<"$capture")"
[ "$(tr -d '\r' <"$work/events-calls.log" | tail -n 1)" = "norvaDetach()" ] ||
    fail "the driver is not detached at the end: $(tail -n 3 "$work/events-calls.log")"
echo "boardevents.exe: $printed packets printed and recorded; Ctrl+C ends it with the driver detached"

# Alone in a folder: LoadLibraryW finds no driver library. The program still
# starts full screen, the mouse draws, Escape ends it, and no board is reported.
mkdir "$work/alone"
cp "$program" "$work/alone/"
program=$work/alone/visualview.exe
start_program
xdotool mousemove 300 700 mousedown 1
for x in 340 380 420 460 500 540 580 620 660 700; do
    xdotool mousemove "$x" 700
done
xdotool mouseup 1
stroke_drawn() { shot alone && [ "$(pixel alone 350,700)" = "srgb(255,0,0)" ] && [ "$(pixel alone 650,700)" = "srgb(255,0,0)" ]; }
wait_for 10 stroke_drawn || fail "no red stroke without the driver library"
xdotool key Escape
expect_exit_0 "Escape without the driver library"
[ ! -s "$work/stdout" ] || fail "a board was reported without the driver library: $(cat "$work/stdout")"
echo "without the driver library: full screen, the mouse draws, no board reported"
