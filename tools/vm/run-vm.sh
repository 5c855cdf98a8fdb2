#!/usr/bin/env bash
# Runs a shell script as root inside a qemu VM (TCG) that boots Debian 12's kernel, fetched by
# scripts/setup.sh, for what this host's kernel cannot do (BPF LSM programs). The host's root is the
# VM's root, read-only over virtio-9p, with fresh tmpfs on /tmp, /run, /var/tmp and /dev/shm, so host
# programs and a build folder under /work run unchanged; nothing inside needs a network.
#
#   run-vm.sh [--systemd] [--append 'KERNEL ARGS'] [--timeout SECONDS] [--memory MB] [--smp CPUS]
#             [--env NAME=VALUE]... [--keep FOLDER]... SCRIPT [ARG...]
#
# --keep shows a host folder under /tmp, /var/tmp or /run (a build there) inside, read-only.
# --systemd boots systemd as PID 1 instead, on an overlay of the host's root whose writes stay in
# the VM's memory (packages install, services write where they would); SCRIPT then runs as the
# service norvale-vm.service once the system is up, in PID 1's own namespaces.
#
# The script runs from the caller's folder when the VM sees it (not under /tmp, /run or /var/tmp),
# else from /. Its output comes out here and its exit status is this one's; a VM that gives none
# (panic, hang, time limit) exits 125 after the kernel's last messages, as does a bad call.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
setup=$(cd "$here/../.." && pwd)/scripts/setup.sh
kernel_dir=${NORVALE_TEST_KERNEL_DIR:-/var/cache/norvale/test-kernel}
qemu=qemu-system-x86_64
busybox=/bin/busybox

append=''
limit=${NORVALE_VM_TIMEOUT:-300}
memory=1024
smp=2
envs=()
keeps=()
systemd=0

usage() {
    sed -n '7,13p' "${BASH_SOURCE[0]}" | sed 's/^#  //' >&2
    exit 125
}
die() {
    echo "run-vm: $*" >&2
    exit 125
}

while (($#)); do
    case $1 in
    --systemd) systemd=1; shift ;;
    --append) (($# >= 2)) || usage; append+=" $2"; shift 2 ;;
    --timeout) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; limit=$2; shift 2 ;;
    --memory) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; memory=$2; shift 2 ;;
    --smp) [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || usage; smp=$2; shift 2 ;;
    --env) [[ ${2:-} =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || usage; envs+=("$2"); shift 2 ;;
    --keep) [[ -d ${2:-} ]] || usage; keeps+=("$(cd "$2" && pwd -P)"); shift 2 ;;
    --) shift; break ;;
    -*) usage ;;
    *) break ;;
    esac
done
(($# >= 1)) || usage
script=$1
shift
[[ -f $script && -r $script ]] || die "no readable script $script"

command -v "$qemu" >/dev/null || die "$qemu is missing: run $setup"
[[ -x $busybox ]] && ! ldd "$busybox" >/dev/null 2>&1 || die "no static $busybox (busybox-static): run $setup"
for f in vmlinuz VERSION modules/load-order modules/root-order; do
    [[ -f $kernel_dir/$f ]] || die "no test kernel in $kernel_dir (missing $f): run $setup"
done

start=$EPOCHREALTIME
tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-vm.XXXXXX") || die "cannot make a temporary folder"
qemu_pid=''
reader_pid=''
cleanup() {
    [[ -n $qemu_pid ]] && kill "$qemu_pid" 2>/dev/null
    [[ -n $reader_pid ]] && kill "$reader_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'echo "run-vm: interrupted" >&2; exit 125' INT TERM HUP

# Single quotes that busybox sh reads back as the same word.
quote() {
    local s=${1//\'/\'\\\'\'}
    printf "'%s'" "$s"
}

token=$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')
root=$tmp/initramfs
mkdir -p "$root"/{bin,dev,proc,sys,modules,norvale} || die "cannot fill $root"
cp "$busybox" "$root/bin/busybox"
cp "$here/init" "$root/init"
chmod 755 "$root/init"
cp "$kernel_dir"/modules/*.ko "$kernel_dir"/modules/{load,root}-order "$root/modules/" || die "cannot copy the kernel's modules"
cp "$script" "$root/norvale/script" || die "cannot read $script"
{
    echo "vm_token=$token"
    printf 'set --'
    for e in PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root \
        LOGNAME=root SHELL=/bin/sh TERM=dumb LANG=C.UTF-8 "${envs[@]}"; do
        printf ' %s' "$(quote "$e")"
    done
    printf ' /bin/sh -c %s %s' "$(quote 'cd "$0" 2>/dev/null || cd /; exec /run/norvale-vm/script "$@"')" \
        "$(quote "$PWD")"
    for a in "$@"; do
        printf ' %s' "$(quote "$a")"
    done
    echo
} >"$root/norvale/run"
printf '%s\n' "${keeps[@]}" >"$root/norvale/keep"
if ((systemd)); then
    : >"$root/norvale/systemd"
    # dpkg reads its whole database at every run: over 9p under emulation that is a minute, from
    # memory a second. The VM starts with it in its overlay's upper layer.
    mkdir -p "$root/norvale/upper/var/lib"
    cp -a /var/lib/dpkg "$root/norvale/upper/var/lib/" || die "cannot copy dpkg's database"
    # Only what mounts the root is loaded at boot; the rest the kernel loads when first used, as
    # on a real machine (and as a service's ProtectKernelModules must still let it).
    release=$(sed -n 's/^release //p' "$kernel_dir/VERSION")
    modules=$root/norvale/upper/usr/lib/modules/$release
    mkdir -p "$modules/extra" && cp "$kernel_dir"/modules/*.ko "$modules/extra/" &&
        cp "$kernel_dir"/modules/modules.builtin{,.modinfo} "$modules/" &&
        /sbin/depmod -b "$root/norvale/upper/usr" "$release" || die "cannot install the kernel's modules"
    cat >"$root/norvale/launch" <<'EOF'
#!/bin/sh
# norvale-vm.service: the script, then the VM's end, as /init does without systemd.
. /run/norvale-vm/run
echo "NORVALE-VM-BOOTED=$(cut -d' ' -f1 /proc/uptime) $vm_token" >/dev/ttyS0
/usr/bin/env -i "$@" </dev/null >/dev/ttyS0 2>&1
echo "NORVALE-VM-EXIT=$? $vm_token" >/dev/ttyS0
exec systemctl poweroff --force --force
EOF
    cat >"$root/norvale/norvale-vm.target" <<'EOF'
[Unit]
Description=The test script of run-vm.sh
Requires=basic.target norvale-vm.service
AllowIsolate=yes
EOF
    cat >"$root/norvale/norvale-vm.service" <<'EOF'
[Unit]
Description=The test script of run-vm.sh
After=basic.target

[Service]
Type=oneshot
ExecStart=/run/norvale-vm/launch
TimeoutStartSec=infinity
EOF
fi
(cd "$root" && find . | "$busybox" cpio -o -H newc -R 0:0 2>/dev/null | gzip -1 >"$tmp/initrd.gz") ||
    die "cannot build the initramfs"

# ttyS0 carries the script's output, ttyS1 the kernel's messages (the console).
mkfifo "$tmp/ttyS0"
awk -v status="$tmp/status" -v booted="$tmp/booted" -v token="$token" '
    { gsub(/\r/, "") }
    match($0, "NORVALE-VM-(EXIT|BOOTED)=[0-9.]+ " token "$") {
        if (RSTART > 1) { print substr($0, 1, RSTART - 1); fflush() }
        split(substr($0, RSTART), m, /[= ]/)
        print m[2] > (m[1] == "NORVALE-VM-EXIT" ? status : booted)
        fflush(status); fflush(booted)
        next
    }
    { print; fflush() }
' <"$tmp/ttyS0" &
reader_pid=$!

timeout -k 5 "$limit" "$qemu" -nodefaults -no-user-config -display none -no-reboot \
    -machine pc -accel tcg -cpu max -smp "$smp" -m "$memory" -nic none \
    -kernel "$kernel_dir/vmlinuz" -initrd "$tmp/initrd.gz" \
    -append "console=ttyS1 panic=-1$append" \
    -chardev file,id=out,path="${tmp//,/,,}/ttyS0" -serial chardev:out \
    -chardev file,id=kernel,path="${tmp//,/,,}/kernel.log" -serial chardev:kernel \
    -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    </dev/null >"$tmp/qemu.log" 2>&1 &
qemu_pid=$!
wait "$qemu_pid"
qemu_rc=$?
qemu_pid=''
# A qemu that never opened ttyS0 leaves the reader waiting in open(); a read-write open frees it.
exec 3<>"$tmp/ttyS0"
exec 3>&-
wait "$reader_pid"
reader_pid=''

elapsed=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
booted=$(cat "$tmp/booted" 2>/dev/null)
kernel=$(head -n1 "$kernel_dir/VERSION")
rc=$(cat "$tmp/status" 2>/dev/null)
if [[ -z $rc ]]; then
    if ((qemu_rc == 124 || qemu_rc == 137)); then
        echo "run-vm: no exit status from the VM within $limit s; stopped it" >&2
    else
        echo "run-vm: the VM ended (qemu status $qemu_rc) without the script's exit status" >&2
    fi
    echo "run-vm: last kernel messages:" >&2
    tail -n 40 "$tmp/kernel.log" | tr -d '\r' | sed 's/^/  | /' >&2
    if [[ -s $tmp/qemu.log ]]; then
        echo "run-vm: qemu said:" >&2
        sed 's/^/  | /' "$tmp/qemu.log" >&2
    fi
    rc=125
elif ((rc != 0)); then
    # Only what the kernel said while the script ran.
    log=$(tr -d '\r' <"$tmp/kernel.log" | awk -v t="${booted:-0}" '
        match($0, /^\[ *[0-9.]+\]/) { on = substr($0, 2, RLENGTH - 2) + 0 > t + 0 }
        on && !/reboot: Power down|Preparing to enter system sleep state/' | tail -n 20)
    if [[ -n $log ]]; then
        echo "run-vm: the script exited $rc; the kernel said meanwhile:" >&2
        sed 's/^/  | /' <<<"$log" >&2
    fi
fi
if [[ -n $booted ]]; then
    echo "run-vm: $kernel: ${elapsed} s in all, the script started ${booted} s after the kernel, exit $rc" >&2
else
    echo "run-vm: $kernel: ${elapsed} s in all, the script never started, exit $rc" >&2
fi
exit "$rc"
