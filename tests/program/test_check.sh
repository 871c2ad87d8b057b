#!/usr/bin/env bash
# The board check as a technician runs it in the visualiser: K starts it, a
# clean board of the simulated board performs every step (its scenario waits
# for the key), the report screen shows the board passed, the check's folder
# holds its three files, and boardevents --judge, playing the saved capture,
# gives the same verdicts.
# Usage: test_check.sh <path of visualview> <path of boardevents> <clean board's scenario>
set -euo pipefail

program=${1:?usage: test_check.sh <visualview> <boardevents> <scenario>}
boardevents=${2:?usage: test_check.sh <visualview> <boardevents> <scenario>}
clean=${3:?usage: test_check.sh <visualview> <boardevents> <scenario>}

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"
start_screen
poll_seconds=0.5

sed "s|^wait callback 1\$|&\nwait file $work/go|" "$clean" >"$work/scenario"
grep -q "^wait file $work/go\$" "$work/scenario" || fail "the scenario has no 'wait callback 1' to follow"

VISUALVIEW_CHECK_DIR=$work/checks NORVABOARD_SCENARIO=$work/scenario "$program" \
    >"$work/stdout" 2>"$work/stderr" &
program_pid=$!
pids+=($program_pid)
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$program_pid" | head -n1) ||
    fail "no window of visualview appeared"
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
full_screen() { xdotool getwindowgeometry "$window" | grep -q 'Geometry: 1920x1080'; }
wait_for 10 full_screen || fail "visualview is not full screen"

shot() { import -window root "$work/$1.png"; }
pixel() { convert "$work/$1.png" -format "%[pixel:p{$2}]" info:; }
# Pixels within 8 % of a colour inside a rectangle WxH+X+Y.
count() {
    convert "$work/$1.png" -crop "$2" -fuzz 8% -fill black +opaque "$3" -fill white -opaque "$3" \
        -format '%[fx:int(mean*w*h)]' info:
}

# The step's box, its black border at the top in the middle, over plain white.
xdotool key h k
step_shown() { shot step && [ "$(pixel step 960,25)" = "srgb(0,0,0)" ]; }
wait_for 10 step_shown || fail "K showed no box of the check's step: $(cat "$work/stderr")"
echo "K shows the first step"
touch "$work/go"

saved() { grep -q '^board check saved: ' "$work/stdout"; }
wait_for 90 saved || fail "no check was saved: $(cat "$work/stdout" "$work/stderr")"
folder=$(sed -n 's/^board check saved: //p' "$work/stdout")
[ "$(dirname "$folder")" = "$work/checks" ] || fail "the check was saved in $folder"
for file in check.json report.png capture.scn; do
    [ -s "$folder/$file" ] || fail "$folder has no $file"
done
echo "saved in $(basename "$folder"): $(ls "$folder" | tr '\n' ' ')"

# The report's box: its title and its seven steps' lines in green, on the
# screen and in report.png.
shot report
cp "$folder/report.png" "$work/saved.png"
for picture in report saved; do
    green=$(count $picture 1920x1080+0+0 '#008c00')
    [ "$green" -gt 3000 ] || fail "$picture.png shows $green green pixels, not a board that passed"
done
echo "the report shows the board passed ($green green pixels), as report.png does"

"$boardevents" --judge "$folder" >"$work/judged" 2>&1 || fail "boardevents --judge: $(cat "$work/judged")"
grep -q '^  verdict   PASS' "$work/judged" && grep -q '^verdicts: the same as those saved' "$work/judged" ||
    fail "boardevents --judge does not agree: $(cat "$work/judged")"
echo "boardevents --judge gives the same verdicts"

xdotool key k Escape
status=0
wait "$program_pid" || status=$?
[ $status -eq 0 ] || fail "visualview exited with status $status: $(cat "$work/stderr")"
