#!/usr/bin/env bash
# The Debian package as a person uses it: installed with apt-get, its
# programs run from their installed paths (the board events tool's version,
# the demo through its launcher on a virtual screen, the plain program
# finding no simulated board), then purged, leaving nothing behind. It
# installs for real, so it runs only as root (CI is); lintian must find no
# error in it.
# Usage: test_package.sh <visualview_<version>_<arch>.deb>
set -euo pipefail

deb=$(realpath "${1:?usage: test_package.sh <package.deb>}")
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the package test installs visualview for real with apt-get, which needs root (CI runs as root)"
    exit 77
fi
if dpkg-query -W -f='${Status}' visualview 2>/dev/null | grep -q 'install ok installed'; then
    echo "FAIL: visualview is installed already; the test would remove it" >&2
    exit 1
fi

source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/xsession.sh"

lintian --fail-on error "$deb" || fail "lintian found errors in $deb"
echo "lintian: no error"

# Whatever happens, the machine is left as it was.
purge() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq visualview >/dev/null 2>&1 || true; }
trap 'status=$?; purge; cleanup; exit $status' EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 ||
    fail "apt-get install: $(cat "$work/install.log")"
dpkg -L visualview >"$work/files"
echo "installed: $(wc -l <"$work/files") paths"

# The installed programs, found on PATH, with no run path: the system's
# search decides which driver they load.
unset LD_LIBRARY_PATH NORVABOARD_SCENARIO NORVABOARD_DEVICES
cd "$work"
for program in visualview boardevents; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
    if readelf -d "/usr/bin/$program" | grep -qE 'R(UN)?PATH'; then
        fail "/usr/bin/$program has a run path"
    fi
done
version=$(dpkg-query -W -f='${Version}' visualview)
for program in boardevents visualview; do
    [ "$($program --version)" = "$program $version" ] ||
        fail "$program --version says '$($program --version)', the package is $version"
done
# The launcher's help is the visualiser's, under a word on what it runs.
visualview-demo --help >"$work/demo-help" || fail "visualview-demo --help: status $?"
grep -qx 'Usage: visualview-demo .*' "$work/demo-help" && grep -qx "visualview $version" "$work/demo-help" ||
    fail "visualview-demo --help: $(cat "$work/demo-help")"
# From the package's own list: a minimal system may leave manual pages out.
for page in visualview boardevents visualview-demo; do
    grep -qx "/usr/share/man/man1/$page.1.gz" "$work/files" || fail "no manual page for $page"
done

# Plainly, nothing finds the simulated board.
status=0
boardevents --duration 0 >"$work/plain.out" 2>"$work/plain.err" || status=$?
[ $status -eq 1 ] && grep -q 'no board driver' "$work/plain.err" ||
    fail "boardevents without a driver: status $status, $(cat "$work/plain.err")"
echo "boardevents finds no driver on its own: $(head -n1 "$work/plain.err")"

# Escape, again until the program has ended: a key that comes before its
# window takes input is lost. The program ends on the key's press, and
# xdotool, its window gone, fails before the release: without one the server
# repeats the key into the next program's window.
ended_by_escape() {
    xdotool key --window "$2" Escape 2>/dev/null || true
    xdotool keyup Escape
    sleep 0.5
    ! kill -0 "$1" 2>/dev/null
}

# Through the launcher it does: the demo's red pen circle on a virtual screen.
start_screen
visualview-demo >"$work/demo.out" 2>"$work/demo.err" &
demo=$!
pids+=($demo)
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$demo" | head -n1) ||
    fail "no window of visualview-demo appeared: $(cat "$work/demo.err")"
red() {
    import -window root "$work/demo.png" &&
        [ "$(convert "$work/demo.png" -fx 'r>0.7 && g<0.3 && b<0.3 ? 1 : 0' -format '%[fx:int(mean*w*h)]' info:)" -gt 100 ]
}
wait_for 20 red || fail "the demo drew no red pen stroke"
grep -q 'Found device' "$work/demo.out" || fail "the demo found no board: $(cat "$work/demo.out")"
wait_for 20 ended_by_escape "$demo" "$window" || fail "visualview-demo did not end on Escape"
wait "$demo" || fail "visualview-demo exited with status $?"
echo "visualview-demo: the simulated board's demo drawn, exit status 0"

# The plain program runs without a board and says why on standard error.
visualview >"$work/plain-visualview.out" 2>"$work/plain-visualview.err" &
plain=$!
pids+=($plain)
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$plain" | head -n1) ||
    fail "no window of visualview appeared: $(cat "$work/plain-visualview.err")"
grep -q 'no board driver' "$work/plain-visualview.err" ||
    fail "visualview did not say that it found no driver: $(cat "$work/plain-visualview.err")"
! grep -q 'Found device' "$work/plain-visualview.out" || fail "visualview found a board on its own"
wait_for 20 ended_by_escape "$plain" "$window" || fail "visualview did not end on Escape"
wait "$plain" || fail "visualview exited with status $?"
echo "visualview without a driver: runs, says so, exit status 0"

# Purged, nothing is left of it.
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq visualview >"$work/purge.log" 2>&1 ||
    fail "apt-get purge: $(cat "$work/purge.log")"
left=$(while read -r path; do
    [ -f "$path" ] || [ -L "$path" ] && echo "$path"
    case $path in /usr/lib/visualview* | /usr/share/doc/visualview*) [ -e "$path" ] && echo "$path" ;; esac
done <"$work/files" | sort -u)
[ -z "$left" ] || fail "left after purge: $left"
echo "purged: nothing left"
