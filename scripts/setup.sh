#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Norvale need.
# Does nothing when all of them are present already. Then fetches Debian 12's kernel for the VM tests.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  g++ make cmake pkg-config git
  qt6-base-dev qt6-base-dev-tools
  libgstreamer1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth openbox trayer x11-utils xdotool imagemagick xdg-utils libxcb1-dev
  iproute2 python3 dbus-daemon
  at-spi2-core dbus-x11 python3-pyatspi
  ppp socat sox lame desktop-file-utils libxml2-utils jq x11-xkb-utils
  polkitd systemd
  clang llvm libbpf-dev bpftool libelf-dev zlib1g-dev libsystemd-dev
  debhelper dpkg-dev lintian devscripts e2fsprogs
  qemu-system-x86 busybox-static
  fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exec bash "$here/fetch-test-kernel.sh"
fi

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
bash "$here/fetch-test-kernel.sh"
