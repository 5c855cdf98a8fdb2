#!/usr/bin/env bash
# ppp-call.sh BUILD: a real call, in a VM booting Debian 12's kernel (this host's kernel has no PPP).
# The guard dials through the real pppd and chat; the modem emulator hands the line to an ISP's pppd
# in a network namespace of its own, so that traffic crosses the link. Every refusal first runs with
# no guard, where it must reach the modem, and counts only then. Never skipped: a missing kernel or
# qemu fails, naming scripts/setup.sh.
set -uo pipefail
build=$(cd "${1:?usage: ppp-call.sh BUILD}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
start=$EPOCHREALTIME
# GStreamer's registry of plugins for the display, made here: under emulation the scan takes long.
gst=$(mktemp -d "${TMPDIR:-/tmp}/norvale-gst.XXXXXX") || exit 1
trap 'rm -rf "$gst"' EXIT
chmod 755 "$gst"
GST_REGISTRY=$gst/registry.bin /usr/bin/python3 -c \
    'import gi; gi.require_version("Gst", "1.0"); from gi.repository import Gst; Gst.init(None)' ||
    { echo "FAIL: cannot make GStreamer's registry (python3-gi, gir1.2-gstreamer-1.0: scripts/setup.sh)" >&2; exit 1; }
chmod 644 "$gst/registry.bin"
# Kept visible inside, wherever the checkout is (a fresh tmpfs hides the host's /tmp there).
"$here/../../tools/vm/run-vm.sh" --timeout 200 --keep "$build" --keep "$here/.." --keep "$gst" \
    "$here/ppp-inside.sh" "$build" "$here" "$gst/registry.bin"
status=$?
awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "ppp-call: one boot in %.1f s\n", e - s }'
exit $status
