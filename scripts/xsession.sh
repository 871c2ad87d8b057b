# Sourced by the scripts that run the program as a user meets it: a
# 1920x1080 virtual screen of 24-bit depth (the default depth of 8 does not
# work with Qt) with the openbox window manager (without one, a full-screen
# request leaves a 640x480 window in the middle of the screen).
#
# Skips without Xvfb. Gives: $work, a folder of the script's own, removed at
# exit unless the script failed; pids, processes that end at exit (append
# yours); fail; wait_for; start_screen.

# Without Xvfb there is no virtual screen, and the caller skips (77, CTest's
# status for a skip); the tools that drive the screen and look at it come with
# the set-up, and their absence is a failure.
if ! command -v Xvfb >/dev/null; then
    echo "SKIP: Xvfb is not installed (Debian package xvfb); the program cannot be run on a virtual screen"
    exit 77
fi
for tool in openbox xdotool xprop import convert; do
    if ! command -v "$tool" >/dev/null; then
        echo "FAIL: $tool is missing (install openbox, xdotool, x11-utils and imagemagick)" >&2
        exit 1
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    local status=$?
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    if [ $status -eq 0 ]; then
        rm -rf "$work"
    else
        echo "screenshots and output kept in $work" >&2
    fi
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Polls a condition (a shell command) for up to $1 seconds, every
# $poll_seconds (0.1 unless set).
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep "${poll_seconds:-0.1}"
    done
}

# Starts the screen (Xvfb picks a free display itself and reports it, or
# takes display number $XSESSION_DISPLAY where several people share the
# machine and each keeps to numbers of their own) and the window manager,
# and exports DISPLAY.
start_screen() {
    if [ -n "${XSESSION_DISPLAY:-}" ]; then
        Xvfb ":$XSESSION_DISPLAY" -screen 0 1920x1080x24 -nolisten tcp 2>"$work/xvfb.log" &
        pids+=($!)
        wait_for 10 test -S "/tmp/.X11-unix/X$XSESSION_DISPLAY" ||
            fail "Xvfb did not start on :$XSESSION_DISPLAY: $(cat "$work/xvfb.log")"
        echo "$XSESSION_DISPLAY" >"$work/display"
    else
        Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
        pids+=($!)
        wait_for 10 test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    fi
    export DISPLAY=":$(head -n1 "$work/display")"
    openbox >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    wait_for 10 wm_running || fail "openbox did not start: $(cat "$work/openbox.log")"
}
