#!/usr/bin/env bash
# install-test.sh BUILD SOURCE APPLICATIONS_DIR AUTOSTART_DIR POLKIT_DIR
# Stages cmake --install in a temporary folder (DESTDIR), so nothing is written outside it.
set -uo pipefail
build=$1 source=$2 applications=$3 autostart=$4 polkit=$5
prefix=/opt/norvale

tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-install.XXXXXX") || exit 1
pid=
cleanup() {
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid"
        wait "$pid" 2>/dev/null
    fi
    # A program killed while it held its files leaves them immutable.
    chattr -R -i "$tmp" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
staged() { [[ $1 == /* ]] && echo "$tmp/root$1" || echo "$tmp/root$prefix/$1"; }

if ! DESTDIR="$tmp/root" cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log" >&2
    echo "FAIL: cmake --install" >&2
    exit 1
fi
dir=$tmp/root$prefix
launcher=$(staged "$applications")/norvale.desktop
autostarter=$(staged "$autostart")/norvale.desktop
policy=$(staged "$polkit")/org.norvale.guard.policy

# Exactly the program's companions, flat in its folder, and the two desktop entries: no test or
# benchmark programs.
expected=$(printf '%s\n' "$dir"/{connected.mp3,disconnected.mp3,error.mp3,norvale,norvale-help.xml,norvale-line,norvale-tray.png,norvale.hlp,palette.png,phonebook.sample.conf,start.mp3} "$launcher" "$autostarter" "$policy" | sort)
actual=$(find "$tmp/root" -type f | sort)
[[ $actual == "$expected" ]] || fail "installed files differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))"

for program in norvale norvale-line; do
    [[ -f $dir/$program && -x $dir/$program ]] || fail "$program is not executable"
done
for asset in start.mp3 connected.mp3 disconnected.mp3 error.mp3 norvale.hlp norvale-help.xml \
    norvale-tray.png palette.png; do
    cmp -s "$source/assets/$asset" "$dir/$asset" || fail "$asset differs from the shipped one"
    [[ $(stat -c %a "$dir/$asset" 2>/dev/null) == 644 ]] || fail "$asset is not mode 644"
done
cmp -s "$source/assets/phonebook.conf" "$dir/phonebook.sample.conf" || fail "the sample phonebook differs"
[[ $(stat -c %a "$dir") == 755 ]] || fail "the program's folder is not mode 755"

for entry in "$launcher" "$autostarter"; do
    [[ -f $entry ]] || continue
    if command -v desktop-file-validate >/dev/null; then
        # Warnings count too: the desktops skip or misread entries they warn about.
        report=$(desktop-file-validate "$entry" 2>&1)
        [[ $? == 0 && -z $report ]] || fail "desktop-file-validate: $report"
    fi
    for line in "Type=Application" "Name=Norvale" "Exec=pkexec $prefix/norvale" \
        "Icon=$prefix/norvale-tray.png" "Comment=Protegge la connessione telefonica dai dialer e ne mostra il traffico" \
        "Categories=Network;Dialup;Monitor;"; do
        grep -qxF "$line" "$entry" || fail "$entry lacks the line $line"
    done
done
for line in X-GNOME-Autostart-Delay=5 X-KDE-autostart-after=panel X-LXQt-Need-Tray=true X-MATE-Autostart-Delay=5; do
    grep -qxF "$line" "$autostarter" || fail "the autostart entry lacks the line $line"
done
# pkexec runs exactly the installed program, on the user's display, for the user at the desktop.
for line in "<annotate key=\"org.freedesktop.policykit.exec.path\">$prefix/norvale</annotate>" \
    '<annotate key="org.freedesktop.policykit.exec.allow_gui">true</annotate>' '<allow_active>yes</allow_active>' \
    '<allow_any>no</allow_any>' '<action id="org.norvale.guard">'; do
    grep -qF "$line" "$policy" || fail "the pkexec policy lacks $line"
done
xmllint --noout "$policy" 2>/dev/null || fail "the pkexec policy is not well-formed XML"

# The installed program starts from its own folder: its settings file and the phonebook of the
# built-in line appear there, and SIGTERM ends it cleanly.
NORVALE_AUDIO_SINK="fakesink sync=true" QT_QPA_PLATFORM=offscreen "$dir/norvale" >"$tmp/run.log" 2>&1 &
pid=$!
for ((i = 0; i < 100; i++)); do
    [[ -e $dir/nv4.ini ]] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
[[ -e $dir/nv4.ini ]] || fail "no nv4.ini in the installed folder within 10 s"
kill -TERM "$pid" 2>/dev/null
for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
    fail "the installed program did not end within 5 s of SIGTERM"
else
    wait "$pid"
    status=$?
    pid=
    [[ $status == 0 ]] || fail "the installed program ended with status $status"
fi
[[ -s $dir/nv4.ini ]] || fail "nv4.ini is empty after exit"
cmp -s "$dir/phonebook.sample.conf" "$dir/phonebook.conf" || fail "phonebook.conf is not the sample"

if ((failures > 0)); then
    echo "--- program output" >&2
    cat "$tmp/run.log" >&2
    exit 1
fi
echo "install: tree, desktop entries and start from $prefix checked"
