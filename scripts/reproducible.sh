#!/usr/bin/env bash
# Builds the Debian package of the last commit twice, from two clones in
# different folders, each building in a folder of its own elsewhere, and
# checks that the two packages are the same byte for byte. Where they differ
# it says which files of the package differ. Changes not committed take no
# part. Two release builds take a while (12 minutes on 2 cores), so it is
# run by hand, not in CI.
#
# Usage: reproducible.sh [work folder]   (default: a new temporary folder)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
work=$(realpath -m "${1:-$(mktemp -d)}")
commit=$(git -C "$root" rev-parse HEAD)

debs=()
for place in first/visualview second/a/longer/path/visualview; do
    clone=$work/$place
    rm -rf "$clone" "$clone-package"
    git clone -q --no-hardlinks "$root" "$clone"
    git -C "$clone" checkout -q "$commit"
    echo "building $commit in $clone, into $clone-package" >&2
    deb=$(bash "$clone/scripts/package.sh" "$clone-package" | grep '\.deb$')
    debs+=("$deb")
    rm -rf "$clone" "$clone-package/build"
done

if cmp -s "${debs[0]}" "${debs[1]}"; then
    echo "identical: $(sha256sum "${debs[0]}" | cut -d' ' -f1)  $(basename "${debs[0]}")"
    exit 0
fi
echo "different: ${debs[0]} and ${debs[1]}" >&2
for i in 0 1; do
    dpkg-deb -R "${debs[i]}" "$work/unpacked-$i"
done
if diff -rq "$work/unpacked-0" "$work/unpacked-1" >&2; then
    echo "their files are the same: the archives differ in dates, order or owners" >&2
fi
exit 1
