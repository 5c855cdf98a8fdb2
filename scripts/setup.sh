#!/usr/bin/env bash
# setup.sh [--run]: installs the Debian packages that building and running Norvale need and those of
# its tests, then fetches Debian 12's kernel for the VM tests. With --run, only what building and
# running need. Installs nothing that is present already.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Building and running: the compiler, Qt 6, GStreamer and libsystemd; clang, llvm, libbpf and
# bpftool for the modem fence's BPF object; the sound cues' decoder and output, xdg-open for the help
# page, the strip's font, and chattr, with which run.sh gives back what a killed guard left immutable.
run=(
  g++ make cmake pkg-config
  qt6-base-dev qt6-base-dev-tools
  libgstreamer1.0-dev libsystemd-dev
  clang llvm libbpf-dev bpftool libelf-dev zlib1g-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  xdg-utils fonts-dejavu-core e2fsprogs
)
# Only the tests: GoogleTest; the benchmarks' xcb; the fuzzers' sanitizer runtimes; the desktop of
# the black-box tests (Xvfb, its keymaps, a window manager, a tray, input, window and picture tools) and
# its accessibility tree (AT-SPI through python3); pppd and chat, the modem's pty, sound and JSON
# tools; the checks of the desktop entries, the polkit policy and the unit; what the package needs
# to build, check and install (its dependency polkitd, logrotate for its rotation, git for the copy of
# the tree); the VM (qemu, a static busybox, kmod's depmod for the modules its kernel loads on
# demand); lame to make the sound cues again.
tests=(
  libgtest-dev libgmock-dev libbenchmark-dev libxcb1-dev libclang-rt-14-dev
  xvfb xauth x11-xkb-utils openbox trayer xdotool x11-utils imagemagick
  dbus-daemon dbus-x11 at-spi2-core python3 python3-pyatspi
  ppp socat sox jq iproute2
  desktop-file-utils libxml2-utils systemd
  debhelper dpkg-dev lintian devscripts polkitd logrotate git
  qemu-system-x86 busybox-static kmod
  lame
)

packages=("${run[@]}")
case ${1:-} in
--run) ;;
'') packages+=("${tests[@]}") ;;
*) echo "usage: setup.sh [--run]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} > 0)); then
  if ((EUID != 0)); then
    if command -v sudo >/dev/null; then
      exec sudo "$0" "$@"
    fi
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
[[ ${1:-} == --run ]] || exec bash "$here/fetch-test-kernel.sh"
