#!/usr/bin/env bash
# systemd-unit.sh BUILD: the package built from the tree (BUILD/package/, made by the test
# package-build), installed and driven as an administrator would in a VM whose PID 1 is systemd,
# booting Debian 12's kernel with both fence layers and real PPP links. One boot for all of it.
set -uo pipefail
build=$(cd "${1:?usage: systemd-unit.sh BUILD}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
start=$EPOCHREALTIME
deb=$(compgen -G "$build/package/norvale_*_amd64.deb" | head -n 1)
[[ -n $deb ]] || { echo "FAIL: no package in $build/package (the test package-build makes it)" >&2; exit 1; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-systemd.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
# The upgrade's newer package: the same files under a higher version, as a point release would be.
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb -R "$deb" "$tmp/newer" &&
    sed -i "s/^Version: .*/Version: $version+1/" "$tmp/newer/DEBIAN/control" &&
    dpkg-deb -b "$tmp/newer" "$tmp/norvale_${version}+1_amd64.deb" >/dev/null &&
    rm -rf "$tmp/newer" || { echo "FAIL: cannot repack $deb" >&2; exit 1; }
cp "$deb" "$tmp/" && chmod -R a+rX "$tmp"
"$here/../../tools/vm/run-vm.sh" --systemd --timeout 300 --memory 1536 --keep "$tmp" --keep "$build" --keep "$here/.." \
    "$here/systemd-inside.sh" "$build" "$tmp/$(basename "$deb")" "$tmp/norvale_${version}+1_amd64.deb" "$here"
status=$?
awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "systemd-unit: %.1f s in all\n", e - s }'
exit $status
