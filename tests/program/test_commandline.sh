#!/usr/bin/env bash
# The visualiser's command line as a person types it, with no display at
# all: each option's exit status and output, and that none of them loads the
# driver (the simulated board beside the program logs every call it gets).
# Then what it says without a display.
# Usage: test_commandline.sh <path of visualview> <the project's version>
set -uo pipefail

program=${1:?usage: test_commandline.sh <path of visualview> <version>}
version=${2:?usage: test_commandline.sh <path of visualview> <version>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM VISUALVIEW_SCREEN
export NORVABOARD_SCENARIO=demo NORVABOARD_LOG=$work/calls.log
# Else Qt warns of it on standard error.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# check <status> <stdout|stderr> <first line, a regular expression> <argument>...
check() {
    local expected=$1 stream=$2 pattern=$3 status=0
    shift 3
    "$program" "$@" >"$work/stdout" 2>"$work/stderr" || status=$?
    local other=stderr
    [ "$stream" = stderr ] && other=stdout
    local problem=
    if [ $status -ne "$expected" ]; then
        problem="status $status, not $expected"
    elif ! head -n1 "$work/$stream" | grep -qE -- "$pattern"; then
        problem="$stream begins '$(head -n1 "$work/$stream")'"
    elif [ "$stream" = stderr ] && [ "$(wc -l <"$work/stderr")" -ne 1 ]; then
        problem="more than one line on standard error"
    elif [ -s "$work/$other" ]; then
        problem="$other is '$(cat "$work/$other")'"
    elif [ -e "$work/calls.log" ]; then
        problem="the driver was loaded"
    fi
    if [ -n "$problem" ]; then
        echo "FAIL: visualview $*: $problem" >&2
        failed=1
    else
        echo "visualview${*:+ $*}: status $status"
    fi
    rm -f "$work/calls.log"
}

hint=' \(visualview --help lists the options\)$'
check 0 stdout "^visualview $version\$" --version
check 0 stdout "^visualview $version\$" --help
check 0 stdout "^visualview $version\$" -h --screen 2
check 2 stderr "^visualview: unknown option '--bogus'$hint" --bogus
check 2 stderr "^visualview: unknown option '-bogus'$hint" -bogus --help
check 2 stderr "^visualview: unexpected argument 'board'$hint" board
check 2 stderr "^visualview: --screen needs a screen's number or name" --screen
check 2 stderr "^visualview: '-platform' needs a value$hint" -platform
# Qt's own options are Qt's, with their values and in either form.
check 0 stdout "^visualview $version\$" -style=fusion --reverse -qwindowtitle board --version
# -platform names a platform that needs no display, and reaches Qt.
check 0 stdout '^1 .* 800x600\+0\+0 [0-9]+x[0-9]+ mm primary$' -platform offscreen --list-screens
# A screen that is not there: the screens listed after the line that says so.
VISUALVIEW_SCREEN=2 "$program" -platform offscreen >"$work/stdout" 2>"$work/stderr"
status=$?
[ $status -eq 2 ] && [ ! -s "$work/stdout" ] && [ ! -e "$work/calls.log" ] &&
    [ "$(head -n1 "$work/stderr")" = "visualview: VISUALVIEW_SCREEN 2: there is no screen number 2; the screens are:" ] &&
    [ "$(tail -n +2 "$work/stderr")" = "$("$program" -platform offscreen --list-screens)" ] ||
    { echo "FAIL: VISUALVIEW_SCREEN=2: status $status, $(cat "$work/stderr")" >&2 && failed=1; }

# --help gives the options, the environment and the exit statuses.
"$program" --help >"$work/help"
for text in '--screen <number or name>' '--list-screens' '-h, --help' '--version' '-platform' \
    'VISUALVIEW_SCREEN' 'Exit status: 0 when closed; 1 without a display; 2 for a wrong command line'; do
    grep -qF -- "$text" "$work/help" || { echo "FAIL: --help lacks '$text'" >&2 && failed=1; }
done

# No display: one line with how to run on a virtual screen, before Qt is
# asked for one (it would abort); also where X11 is named as the platform.
noDisplay="^visualview: no display to show the board on: neither DISPLAY nor WAYLAND_DISPLAY is set; .*xvfb-run"
check 1 stderr "$noDisplay"
check 1 stderr "$noDisplay" -platform xcb
check 1 stderr "$noDisplay" --screen 1

exit $failed
