#!/usr/bin/env bash
# Fetches the kernel of Debian 12 (the package that linux-image-amd64 depends on) for the VM tests
# under tools/vm: the BPF LSM layer cannot be tested on a host kernel that refuses LSM programs.
# Leaves vmlinuz, the modules the VM loads at boot (9p and virtio to share the host's root, overlay
# for a writable root under systemd, the PPP stack for real links) and a VERSION file in one folder.
# Does nothing when that folder already holds the same version with the same modules.
set -euo pipefail

dest=${NORVALE_TEST_KERNEL_DIR:-/var/cache/norvale/test-kernel}
# The VM mounts the host's root over virtio-9p, and under systemd an overlay over it (root-order);
# real PPP links need the line discipline (ppp_async and what it depends on). Dependencies come
# along by themselves.
root_modules=(9p 9pnet_virtio virtio_pci overlay)
wanted_modules=("${root_modules[@]}" ppp_generic ppp_async slhc crc_ccitt)

say() { echo "fetch-test-kernel: $*" >&2; }

# Prints "PACKAGE VERSION" of the kernel image that linux-image-amd64 depends on.
resolve() {
    local pkg ver
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
        sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*-amd64\)$/\1/p' | head -n1)
    [[ -n $pkg ]] || return 1
    ver=$(apt-cache show --no-all-versions "$pkg" 2>/dev/null | sed -n 's/^Version: //p' | head -n1)
    [[ -n $ver ]] || return 1
    echo "$pkg $ver"
}

have=""
# A folder made for other modules is made again.
[[ -f $dest/VERSION && -f $dest/vmlinuz && -f $dest/modules/load-order && -f $dest/modules/modules.builtin.modinfo &&
    $(sed -n 's/^wanted //p' "$dest/VERSION") == "${wanted_modules[*]}" ]] && have=$(head -n1 "$dest/VERSION")

updated=0
if ! want=$(resolve); then
    updated=1
    apt-get update >&2 || true
    if ! want=$(resolve); then
        if [[ -n $have ]]; then
            say "cannot resolve linux-image-amd64 from the package lists; keeping $have"
            exit 0
        fi
        say "cannot resolve the kernel package that linux-image-amd64 depends on (apt-cache depends)"
        exit 1
    fi
fi
if [[ $want == "$have" ]]; then
    exit 0
fi

if ((EUID != 0)) && ! { mkdir -p "$dest" 2>/dev/null && [[ -w $dest ]]; }; then
    if command -v sudo >/dev/null; then
        exec sudo NORVALE_TEST_KERNEL_DIR="$dest" "$0" "$@"
    fi
    say "writing $dest needs root"
    exit 1
fi

read -r pkg ver <<<"$want"
say "fetching $pkg $ver into $dest"

new=$dest.new
work=$(mktemp -d "${TMPDIR:-/var/tmp}/norvale-kernel.XXXXXX")
trap 'rm -rf "$work" "$new"' EXIT
# apt drops to the _apt user to download; let it write here so it does not warn about it.
chmod 755 "$work"
if id _apt >/dev/null 2>&1; then
    chown _apt "$work"
fi

download() { (cd "$work" && apt-get download -q "$pkg=$ver" >&2); }
if ! download; then
    if ((updated)); then
        say "apt-get download $pkg=$ver failed"
        exit 1
    fi
    # Old package lists name a version the archive may have dropped since.
    apt-get update >&2 || true
    want=$(resolve) || { say "cannot resolve the kernel package after apt-get update"; exit 1; }
    [[ $want == "$have" ]] && exit 0
    read -r pkg ver <<<"$want"
    if ! download; then
        say "apt-get download $pkg=$ver failed, also after apt-get update"
        exit 1
    fi
fi

deb=$(find "$work" -maxdepth 1 -name "${pkg}_*.deb" | head -n1)
[[ -n $deb ]] || { say "apt-get download left no ${pkg}_*.deb"; exit 1; }
dpkg-deb -x "$deb" "$work/x"

modroot=$work/x/lib/modules
[[ -d $modroot ]] || modroot=$work/x/usr/lib/modules
release=$(ls "$modroot" 2>/dev/null || true)
[[ $(wc -w <<<"$release") == 1 ]] || { say "expected one folder under lib/modules, found: '$release'"; exit 1; }
moddir=$modroot/$release
[[ -f $work/x/boot/vmlinuz-$release ]] || { say "no boot/vmlinuz-$release in $deb"; exit 1; }

rm -rf "$new"
mkdir -p "$new/modules"
cp "$work/x/boot/vmlinuz-$release" "$new/vmlinuz"

# The package ships no modules.dep (depmod runs at install), so dependencies come from each module's
# own depends= field. busybox insmod may not read compressed modules, so they are stored plain.
declare -A path_of=()
while IFS= read -r f; do
    name=$(basename "$f")
    name=${name%%.ko*}
    path_of[${name//-/_}]=$f
done < <(find "$moddir/kernel" -name '*.ko*')

plain() {
    case $1 in
    *.ko.xz) xz -dc "$1" ;;
    *.ko.zst) zstd -qdc "$1" ;;
    *.ko.gz) gzip -dc "$1" ;;
    *.ko) cat "$1" ;;
    *) say "unexpected module file $1"; return 1 ;;
    esac
}

# Dependencies first, each module once: the initramfs loads them with insmod in this order.
declare -A seen=()
add_module() {
    local name=${1//-/_} dep deps
    [[ -n ${seen[$name]:-} ]] && return 0
    seen[$name]=1
    if [[ -z ${path_of[$name]:-} ]]; then
        # Built into this kernel: nothing to load.
        grep -qE "/${name//_/[-_]}\.ko" "$moddir/modules.builtin" && return 0
        say "module $name is neither in the package nor built in"
        exit 1
    fi
    plain "${path_of[$name]}" >"$new/modules/$name.ko"
    deps=$(tr '\0' '\n' <"$new/modules/$name.ko" | sed -n 's/^depends=//p' | head -n1)
    for dep in ${deps//,/ }; do
        add_module "$dep"
    done
    echo "$name.ko" >>"$new/modules/load-order"
}
for m in "${wanted_modules[@]}"; do
    add_module "$m"
    [[ $m == "${root_modules[-1]}" ]] && cp "$new/modules/load-order" "$new/modules/root-order"
done
# For depmod, where the VM installs the modules to have the kernel load them on demand.
cp "$moddir"/modules.builtin{,.modinfo} "$new/modules/"

printf '%s\nrelease %s\nwanted %s\n' "$want" "$release" "${wanted_modules[*]}" >"$new/VERSION"
rm -rf "$dest"
mv "$new" "$dest"
say "$pkg $ver ($release) ready in $dest"
