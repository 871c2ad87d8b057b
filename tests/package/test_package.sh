#!/usr/bin/env bash
# The Debian package as a person meets it: lintian, at its most talkative,
# finds nothing but what the package's overrides explain; apt-get installs
# it; its programs are hardened and stripped as Debian's are and find no
# simulated board of their own; its menu entries are valid and start what
# the package installed; every command of the user's guide that can run here
# runs as the guide says, and its pages link only to what is installed; then
# it is purged and nothing of it is left. It installs for real, so it runs
# only as root (CI is).
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
command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing (install desktop-file-utils)"

lintian -I --pedantic --fail-on error,warning,info,pedantic "$deb" >"$work/lintian.out" 2>&1 ||
    fail "lintian -I --pedantic: $(cat "$work/lintian.out")"
echo "lintian -I --pedantic: no tag but the overridden"

# Whatever happens, the machine is left as it was.
purge() { DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq visualview >/dev/null 2>&1 || true; }
# cleanup keeps the screenshots and output of a run that failed: it reads
# the status from $?.
trap 'status=$?; set +e; purge; (exit $status); cleanup; exit $status' EXIT
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 ||
    fail "apt-get install: $(cat "$work/install.log")"
dpkg -L visualview >"$work/files"
echo "installed: $(wc -l <"$work/files") paths"
# The pages as the package ships them: a minimal system's dpkg may leave
# documentation out when it installs.
dpkg-deb -x "$deb" "$work/shipped"
docs=$work/shipped/usr/share/doc/visualview
guide=$docs/docs/guide.md
[ -f "$guide" ] || fail "the package has no user's guide (/usr/share/doc/visualview/docs/guide.md)"

# Each ELF file hardened as Debian hardens (position-independent, its
# relocations read-only and bound at start, the stack protector, fortified
# libc calls) and stripped as dh_strip strips, with no run path: the
# system's search decides which driver the programs load.
elf_problems() {
    local header segments dynamic symbols sections
    header=$(readelf -hW "$1") segments=$(readelf -lW "$1") dynamic=$(readelf -dW "$1")
    symbols=$(readelf --dyn-syms -W "$1") sections=$(readelf -SW "$1")
    grep -q 'Type:[[:space:]]*DYN' <<<"$header" || echo "not position-independent"
    grep -q GNU_RELRO <<<"$segments" || echo "no read-only relocations (relro)"
    grep -qE 'BIND_NOW|FLAGS_1.*[[:space:]]NOW' <<<"$dynamic" || echo "not bound at start (bindnow)"
    grep -q __stack_chk_fail <<<"$symbols" || echo "no stack protector"
    # Fortified, as lintian judges it: a file that calls a libc function
    # with a checked variant calls some checked variant.
    if grep -qFf <(sed '/^#/d; /^[[:space:]]*$/d; s/^/ /; s/$/@/' "$checked_variants") <<<"$symbols"; then
        grep -qE ' __[a-z0-9_]+_chk@' <<<"$symbols" || echo "no fortified functions"
    fi
    ! grep -qE '\((RUNPATH|RPATH)\)' <<<"$dynamic" || echo "a run path"
    ! grep -qE '\] \.(symtab|comment|debug_[a-z]+) ' <<<"$sections" || echo "not stripped"
}
checked_variants=/usr/share/lintian/data/binaries/hardened-functions
[ -f "$checked_variants" ] || fail "lintian's list of libc functions with checked variants is missing: $checked_variants"
elves=0
while read -r path; do
    [ -f "$path" ] && [ ! -L "$path" ] && [ "$(head -c4 "$path" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] ||
        continue
    problems=$(elf_problems "$path")
    [ -z "$problems" ] || fail "$path: $(paste -sd ',' <<<"$problems")"
    elves=$((elves + 1))
done <"$work/files"
[ $elves -eq 3 ] || fail "$elves ELF files hardened, expected 3: the two programs and the simulated board"
echo "hardened and stripped: $elves ELF files"

unset LD_LIBRARY_PATH NORVABOARD_SCENARIO NORVABOARD_DEVICES NORVABOARD_GRAB NORVABOARD_LOG
for program in visualview boardevents visualview-demo; do
    [ "$(command -v "$program")" = "/usr/bin/$program" ] || fail "$program is not /usr/bin/$program"
    grep -qx "/usr/share/man/man1/$program.1.gz" "$work/files" || fail "no manual page for $program"
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

# A menu entry per program, valid, starting the installed program with the
# package's icon in the sizes that menus look for.
for entry in visualview visualview-demo; do
    file=/usr/share/applications/$entry.desktop
    desktop-file-validate "$file" || fail "$file is not valid"
    program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$file")
    grep -qx "/usr/bin/$program" "$work/files" || fail "$file starts $program, which the package lacks"
    icon=$(sed -n 's/^Icon=//p' "$file")
    for size in 48x48/apps/$icon.png scalable/apps/$icon.svg; do
        grep -qx "/usr/share/icons/hicolor/$size" "$work/files" || fail "$file: no icon $size"
    done
done
echo "menu entries valid: visualview, visualview-demo"

# Every link between the installed pages leads to an installed file and, with
# an anchor, to a heading of it; no page sends a person into a source tree.
while read -r page; do
    dir=$(dirname "$page")
    ! grep -nE '(^|[ `(])(build|scripts)/|\.\./shared/' "$page" ||
        fail "${page#"$work/shipped"} names the source tree's folders (above)"
    while read -r link; do
        target=${link%%#*} anchor=${link#"$target"} anchor=${anchor#\#}
        [ -n "$target" ] && target=$dir/$target || target=$page
        [ -e "$target" ] || fail "${page#"$work/shipped"} links to $link, which is not installed"
        [ -z "$anchor" ] || [[ $target != *.md ]] ||
            sed -n 's/^#\+ //p' "$target" | tr 'A-Z' 'a-z' | sed 's/[^a-z0-9 _-]//g; s/ /-/g' |
            grep -qx -- "$anchor" || fail "${page#"$work/shipped"} links to $link: no such heading"
    done < <(grep -oE '\]\([^) ]+\)' "$page" | sed 's/^](//; s/)$//' | grep -vE '^[a-z]+:')
done < <(find "$docs" -name '*.md')
echo "pages: every link leads to what is installed"

# Plainly, nothing finds the simulated board.
status=0
boardevents --duration 0 >"$work/plain.out" 2>"$work/plain.err" || status=$?
[ $status -eq 1 ] && grep -q 'no board driver' "$work/plain.err" ||
    fail "boardevents without a driver: status $status, $(cat "$work/plain.err")"
echo "boardevents finds no driver on its own: $(head -n1 "$work/plain.err")"

# The guide's commands, in its order, in one folder, as a person types them.
# Fenced blocks marked sh hold them; a second word in the mark says why a
# command cannot run here (a real board, real devices, Windows), or
# status=N that it ends with status N. A program that opens a window is
# ended with Escape once it is there; every other command ends by itself.
guide_commands() {
    awk '/^```/ {
            if (fenced) { fenced = 0; next }
            fenced = 1; n = split(substr($0, 4), word, " "); lang = word[1]; mark = n > 1 ? word[2] : "-"
            next
        }
        fenced && lang == "sh" && !/^[[:space:]]*(#|$)/ {
            line = line $0
            if (sub(/\\$/, "", line)) next
            print mark "\t" line; line = ""
        }' "$guide"
}
window_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n1 || true; }
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
start_screen

# Through the launcher it does: the demo's red pen circle on the screen.
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

# The launcher plays the demo only where no boards are named: here none.
NORVABOARD_DEVICES= visualview-demo >"$work/none.out" 2>&1 &
none=$!
pids+=($none)
window=$(timeout 30 xdotool search --sync --onlyvisible --pid "$none" | head -n1) ||
    fail "no window of visualview-demo appeared: $(cat "$work/none.out")"
wait_for 20 ended_by_escape "$none" "$window" || fail "visualview-demo did not end on Escape"
wait "$none" || fail "visualview-demo exited with status $?"
! grep -q 'Found device' "$work/none.out" || fail "visualview-demo played its demo with no boards named"
echo "visualview-demo with no boards named: no demo"

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

mkdir "$work/guide"
cd "$work/guide"
ran=0 skipped=()
while IFS=$'\t' read -r mark command; do
    expected=0
    case $mark in
    -) ;;
    status=*) expected=${mark#status=} ;;
    *)
        skipped+=("$mark")
        continue
        ;;
    esac
    ran=$((ran + 1))
    log=$work/guide-$ran
    bash -c "$command" >"$log.out" 2>"$log.err" </dev/null &
    pid=$!
    pids+=($pid)
    ended_or_shown() { ! kill -0 "$pid" 2>/dev/null || [ -n "$(window_of "$pid")" ]; }
    poll_seconds=0.2 wait_for 120 ended_or_shown ||
        fail "'$command' neither ended nor opened a window in 2 minutes: $(cat "$log.err")"
    window=$(window_of "$pid")
    if [ -n "$window" ]; then
        import -window root "$log.png"
        wait_for 20 ended_by_escape "$pid" "$window" || fail "'$command' did not end on Escape"
    fi
    status=0
    wait "$pid" || status=$?
    [ "$status" = "$expected" ] ||
        fail "'$command' ended with status $status, the guide expects $expected: $(cat "$log.err")"
    echo "guide: '$command': status $status"
done < <(guide_commands)
[ $ran -gt 0 ] || fail "no command of the guide ran"
echo "guide: $ran commands ran; not here: ${#skipped[@]} (${skipped[*]})"
cd "$work"

# Purged, nothing is left of it.
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq visualview >"$work/purge.log" 2>&1 ||
    fail "apt-get purge: $(cat "$work/purge.log")"
left=$(while read -r path; do
    [ -f "$path" ] || [ -L "$path" ] && echo "$path"
    case $path in /usr/lib/visualview* | /usr/share/doc/visualview*) [ -e "$path" ] && echo "$path" ;; esac
done <"$work/files" | sort -u)
[ -z "$left" ] || fail "left after purge: $left"
echo "purged: nothing left"
