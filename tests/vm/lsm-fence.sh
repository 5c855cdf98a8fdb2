#!/usr/bin/env bash
# lsm-fence.sh BUILD: the fence's BPF LSM layer, in a VM booting Debian 12's kernel (this host's
# kernel refuses LSM programs). Each attack that only the LSM layer stops first runs with no guard,
# where it must reach the modem, then against the guard with both layers. A second boot, with an LSM
# list that lacks bpf, must make the guard report the LSM layer absent.
set -uo pipefail
build=$(cd "${1:?usage: lsm-fence.sh BUILD}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
start=$EPOCHREALTIME
status=0
# Kept visible inside, wherever the checkout is (a fresh tmpfs hides the host's /tmp there).
vm=("$here/../../tools/vm/run-vm.sh" --timeout 140 --keep "$build" --keep "$here/..")
"${vm[@]}" "$here/lsm-inside.sh" "$build" both "$here" || status=1
"${vm[@]}" --append "lsm=lockdown,capability,landlock,yama,apparmor,tomoyo" \
    "$here/lsm-inside.sh" "$build" no-bpf "$here" || status=1
awk -v s="$start" -v e="$EPOCHREALTIME" 'BEGIN { printf "lsm-fence: two boots in %.1f s\n", e - s }'
exit $status
