#!/usr/bin/env bash
# A Windows zip as a person unpacks it: the two programs, the demo's
# launcher, the text on how to start, the user's guide and the simulated
# board in a folder of its own; its boardevents.exe, run under wine from the unpacked folder, gives
# the zip's version and finds no board driver on its own.
# Usage: test_zip.sh <visualview_<version>_windows-<arch>.zip>
set -euo pipefail

zip=$(realpath "${1:?usage: test_zip.sh <visualview_<version>_windows-<arch>.zip>}")
name=$(basename "$zip" .zip)
version=${name#visualview_}
version=${version%_windows-*}
arch=${name##*_windows-}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
for file in visualview.exe boardevents.exe demo.cmd README.txt simulated-board/libnorvaboardex.dll docs/guide.md; do
    [ -f "$work/visualview/$file" ] || fail "$zip has no visualview/$file"
done
grep -q "^visualview $version for Windows ($arch)" "$work/visualview/README.txt" ||
    fail "README.txt does not name version $version for $arch"
echo "$name: the programs, demo.cmd, README.txt, docs/ and simulated-board/"

# Debian's wine64 and wine32 install their loaders outside PATH.
wine=/usr/lib/wine/wine64
[ "$arch" = x86_64 ] || wine=/usr/lib/wine/wine
if ! "$wine" --version >/dev/null 2>&1; then
    echo "SKIP: $wine does not run here: the zip's programs are not run"
    exit 0
fi
export WINEPREFIX=$work/wineprefix WINEDLLOVERRIDES=mscoree,mshtml= WINEDEBUG=-all
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
cd "$work/visualview"
said=$("$wine" boardevents.exe --version | tr -d '\r')
[ "$said" = "boardevents $version" ] || fail "boardevents.exe --version says '$said', the zip is $version"
status=0
"$wine" boardevents.exe --duration 0 >/dev/null 2>"$work/plain.err" || status=$?
[ $status -eq 1 ] && grep -q 'no board driver' "$work/plain.err" ||
    fail "boardevents.exe without the launcher: status $status, $(cat "$work/plain.err")"
echo "$name: boardevents.exe gives version $version and finds no driver on its own"
