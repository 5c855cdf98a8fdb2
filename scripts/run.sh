#!/usr/bin/env bash
# Installs what building and running need, builds Norvale, installs it into a temporary folder and
# starts it there on the built-in simulated line: the guard as root, the display as the user who ran
# this script, who counts as this guard's administrator. When the display ends (or on Ctrl+C) the
# guard is stopped and the temporary folder removed. Nothing is written outside that folder and the
# build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --run
if ((EUID != 0)); then
    command -v sudo >/dev/null || { echo "run: the guard needs root: run this as root or install sudo" >&2; exit 1; }
    exec sudo --preserve-env=DISPLAY,XAUTHORITY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR,DBUS_SESSION_BUS_ADDRESS \
        bash "$0" "$@"
fi

# Built as the owner of the source folder, so that the build folder stays theirs.
owner=$(stat -c %U .)
as_owner=()
[[ $owner != root ]] && as_owner=(runuser -u "$owner" --)
# A new build folder leaves out the tests and the benchmarks, whose packages scripts/test.sh installs.
configure=()
[[ -f build/CMakeCache.txt ]] || configure=(-DBUILD_TESTING=OFF -DNORVALE_BENCH=OFF)
"${as_owner[@]}" cmake -S . -B build "${configure[@]}" >/dev/null
"${as_owner[@]}" cmake --build build -j2 --target norvale norvale-guard norvale-line norvale_sounds \
    norvale_palette norvale_help

base=$(mktemp -d -t norvale-run.XXXXXX)
chmod 755 "$base"
# Installed under a prefix other than /usr, Norvale keeps its settings, state and sockets under it.
prefix=$base/usr
guard=
stop() {
    if [[ -n $guard ]] && kill -0 "$guard" 2>/dev/null; then
        kill -TERM "$guard"
        wait "$guard" && echo "run: the guard stopped" || echo "run: the guard ended with status $?" >&2
    fi
    chattr -R -i "$base" 2>/dev/null || true # a guard that was killed leaves its files locked
    rm -rf "$base"
}
trap stop EXIT
trap 'exit 130' INT TERM HUP

# DESTDIR keeps the desktop entries, the unit and the polkit action of this throw-away install out of
# the system.
DESTDIR=$base cmake --install build --prefix /usr >/dev/null
chown --reference=build build/install_manifest.txt
# The system's /etc/norvale is the prefix's etc/norvale to a guard installed elsewhere than /usr.
mkdir -p "$prefix/etc" && mv "$base/etc/norvale" "$prefix/etc/norvale"

# The user who ran this is the administrator of this guard, without polkit (which may not run here).
user=${SUDO_USER:-root}
trust=()
[[ $user != root ]] && trust=(--trust-uid "$(id -u "$user")")
# As the service starts it: root, nothing from this environment.
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$prefix/sbin/norvale-guard" "${trust[@]}" &
guard=$!
until [[ -S $prefix/run/norvale/guard.sock ]]; do
    kill -0 "$guard" 2>/dev/null || { echo "run: the guard did not start" >&2; exit 1; }
    sleep 0.1
done
echo "run: the guard runs on the built-in line in $prefix; calls of another program:" \
    "$prefix/bin/norvale-line call NAME (as root); the guard dials: $prefix/bin/norvale-line dial NAME"

if [[ $user == root ]]; then
    echo "run: start the display as a desktop user: $prefix/bin/norvale"
    echo "run: Ctrl+C here stops the guard and removes $base"
    wait "$guard"
    exit
fi
# The user's session (tray, sound) when sudo did not pass it on.
uid=$(id -u "$user")
if [[ -z ${XDG_RUNTIME_DIR:-} && -d /run/user/$uid ]]; then
    export XDG_RUNTIME_DIR=/run/user/$uid
    export DBUS_SESSION_BUS_ADDRESS=${DBUS_SESSION_BUS_ADDRESS:-unix:path=/run/user/$uid/bus}
fi
runuser -u "$user" -- "$prefix/bin/norvale" "$@" || true
