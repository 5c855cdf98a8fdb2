#!/usr/bin/env bash
# build-deb.sh SOURCE DEB: the .deb built from a copy of the tree as it is now (the tracked files and the
# new ones git does not ignore; no build folder), without its tests, left as DEB for the tests that
# install it. A failed build leaves no DEB, not even an older one.
set -uo pipefail
source=$1 deb=$2
for tool in dpkg-buildpackage git; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done
mkdir -p "$(dirname "$deb")" && rm -f "$deb" || exit 1
tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-deb.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
log=${deb%.deb}.build.log

mkdir "$tmp/copy" && git -C "$source" ls-files -z --cached --others --exclude-standard |
    tar -C "$source" --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$tmp/copy" -xf - || exit 1
(cd "$tmp/copy" && unset MAKEFLAGS MAKELEVEL && DEB_BUILD_OPTIONS="nocheck parallel=2" dpkg-buildpackage -b -us -uc) \
    >"$log" 2>&1 || { tail -n 40 "$log" >&2; echo "FAIL: dpkg-buildpackage failed; its log: $log" >&2; exit 1; }
mv "$tmp/$(basename "$deb")" "$deb" 2>/dev/null ||
    { echo "FAIL: dpkg-buildpackage made no $(basename "$deb"): $(cd "$tmp" && echo ./*.deb)" >&2; exit 1; }
echo "build-deb: $deb built in $SECONDS s"
