#!/usr/bin/env bash
# package-test.sh DEB: the built package installed, run, removed and purged in a throw-away root where
# no systemd runs: an overlay over / kept in memory, in a mount namespace of its own, entered by chroot.
# shellcheck source=tests/e2e/lib.sh disable=SC2016,SC2046
source "$(dirname "$0")/../e2e/lib.sh"
need_root
# Every mount below ends with this namespace, however the test ends.
[[ -n ${NORVALE_PACKAGE_NS:-} ]] || NORVALE_PACKAGE_NS=1 exec unshare --mount --propagation private bash "$0" "$@"
for tool in lsattr socat logrotate; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }; done
deb=$(readlink -f "$1")
tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-package.XXXXXX") && cd "$tmp" || exit 1
root=$tmp/layer/root pins_before=''
# Processes whose root is the throw-away root: the guard, its logger, the test's modem.
in_root_pids() { for p in /proc/[0-9]*; do [[ $(readlink "$p/root") == "$root" ]] && echo "${p#/proc/}"; done 2>/dev/null; }
guard_gone() { ! grep -qsx norvale-guard $(in_root_pids | sed 's|.*|/proc/&/comm|') /dev/null; }
cleanup() {
    if mountpoint -q "$root"; then
        kill -TERM $(in_root_pids) 2>/dev/null && wait_until 30 eval '[[ -z $(in_root_pids) ]]'
        kill -KILL $(in_root_pids) 2>/dev/null
        # What a guard killed here, or one whose removal failed, left: its fence and locked files.
        cp unpacked/usr/sbin/norvale-guard "$root/tmp/release" && chroot "$root" /tmp/release --release \
            --folder /var/lib/norvale --config-dir /etc/norvale --run-dir /run/norvale >/dev/null 2>&1
    fi
    umount -R -l "$tmp/layer" 2>/dev/null
    cd / && rm -rf --one-file-system "$tmp"
}
trap cleanup EXIT
trap 'echo "interrupted" >&2; exit 130' INT TERM HUP
require "there is no $deb (the test package-build makes it)" dpkg-deb -x "$deb" unpacked

mkdir -p layer && mount -t tmpfs norvale-package layer && mkdir layer/{upper,work,root} &&
    mount -t overlay overlay -o "lowerdir=/,upperdir=$tmp/layer/upper,workdir=$tmp/layer/work" "$root" &&
    for bound in proc sys dev; do mount --rbind /$bound "$root/$bound"; done &&
    mount -t tmpfs run "$root/run" && mount -t tmpfs -o mode=1777 tmp "$root/tmp" && cp "$deb" "$root/tmp/norvale.deb"
require "no throw-away root" mountpoint -q "$root/tmp"
in_root() { chroot "$root" "$@"; }
dpkg_() { check "dpkg $* fails (dpkg$1.log)" exits_with 0 "dpkg$1.log" in_root dpkg "$@"; }
init() { check "/etc/init.d/norvale-guard $1 does not end with ${2:-0}" exits_with "${2:-0}" "init-$1.log" in_root /etc/init.d/norvale-guard "$1"; }
has() { [[ $(stat -c %a:%U "$root$1" 2>&1) == "$2:root" ]]; }
locked() { ! readable "$root$1"; } # the guard refuses every open, root's too
new_pins() { comm -13 <(echo "$pins_before") <(compgen -G "/sys/fs/bpf/norvale-guard*" | sort) | grep .; }
# removed WHAT FILE...: the guard gone with its program, the files it locked given back, no fence.
removed() {
    check "a guard or its program is left after the removal $1" eval 'guard_gone && ! test -e "$root/usr/sbin/norvale-guard"'
    for file in "${@:2}"; do check "$file stays locked after the removal $1" eval 'readable "$root$file" && ! immutable "$root$file"'; done
    check "a fence stays pinned after the removal $1: $(new_pins)" not quiet new_pins
}

# The built-in line: installed, enabled for both inits, started, stopped and started again.
pins_before=$(new_pins)
dpkg_ -i /tmp/norvale.deb
check "the service is not enabled for systemd and sysvinit" eval 'test -L "$root/etc/systemd/system/multi-user.target.wants/norvale-guard.service" && compgen -G "$root/etc/rc2.d/S*norvale-guard" >/dev/null'
for entry in /usr/bin/norvale{,-line}:755 /usr/sbin/norvale-guard:755 /etc/init.d/norvale-guard:755 /etc/norvale/dialer.conf:644 \
    /lib/systemd/system/norvale-guard.service:644 {/usr/share/applications,/etc/xdg/autostart}/norvale.desktop:644 \
    /usr/share/polkit-1/actions/org.norvale.guard.policy:644 /usr/share/mime/packages/norvale-help.xml:644 \
    /usr/share/man/man8/norvale-guard.8.gz:644 /usr/share/doc/norvale/copyright:644 /etc/logrotate.d/norvale:644 \
    /usr/share/norvale/{{start,connected,disconnected,error}.mp3,norvale.hlp,norvale-help.xml,norvale-tray.png,palette.png,phonebook.sample.conf}:644; do
    check "${entry%:*} is not there, root's, mode ${entry#*:}" has "${entry%:*}" "${entry#*:}"
done
# With no syslog daemon, which each start asks anew, the guard's lines go to a file of its own.
require "the throw-away root has a /dev/log" not test -e "$root/dev/log"
started_ms=$(now_ms)
init start
init status
for entry in /run/norvale:755 /run/norvale/private:700 /run/norvale/guard.sock:666 /var/lib/norvale/nv4.ini:644; do
    eventually 10 "${entry%:*} is not there, root's, mode ${entry#*:}" has "${entry%:*}" "${entry#*:}"
done
eventually 10 "the guard does not lock its phonebook" locked /var/lib/norvale/phonebook.conf
guard_log=$root/var/log/norvale-guard.log pid=$(cat "$root/run/norvale/private/guard.pid")
check "norvale-line cannot place another program's call" quiet in_root /usr/bin/norvale-line call Office
eventually 10 "the hang-up is not in the guard's log" grep -q "hung up a call on \"Office\"" "$guard_log"
init stop
check "the stopped guard left its phonebook locked" eval 'guard_gone && ! locked /var/lib/norvale/phonebook.conf'
check "the guard's log is not root's and adm's, mode 640" eval '[[ $(stat -c %a:%U:%G "$guard_log") == 640:root:adm ]]'
# As the guard writes its lines, to the millisecond, with the zone.
line_start="[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}[+-][0-9]{2}:[0-9]{2} norvale-guard\[$pid\]: "
first_line=$(head -n 1 "$guard_log") && cp "$guard_log" guard-file.log
check "the log's first line does not say why: $first_line" grep -qE "^${line_start}warning: no /dev/log " <<<"$first_line"
check "a line is not in the guard's form: $(grep -vE "^$line_start" "$guard_log" | head -n 1)" not grep -qvE "^$line_start" "$guard_log"
check "the guard's lines are not in its log" eval 'grep -qE "^${line_start}hung up a call on \"Office\"" "$guard_log" &&
    grep -qE "^${line_start}settings saved, files released$" "$guard_log"'
stamp=$(grep -m 1 "hung up a call on" "$guard_log" | cut -d ' ' -f 1)
check "the hang-up is not stamped on the machine's clock: $stamp" eval 'at=$(date -d "$stamp" +%s%3N) && ((at >= started_ms && at <= $(now_ms)))'
check "logrotate finds fault with its configuration (logrotate.log)" eval 'exits_with 0 logrotate.log in_root logrotate -d /etc/logrotate.d/norvale &&
    grep -q "^rotating pattern: /var/log/norvale-guard.log " logrotate.log && not grep -qi error logrotate.log'
# Removed while it runs, where policy-rc.d forbids the init script's stop: stopped by its pid.
init start
eventually 10 "the guard does not lock its phonebook" locked /var/lib/norvale/phonebook.conf
check "the next start did not add to the log" eval '[[ $(head -n 1 "$guard_log") == "$first_line" && $(grep -c " no /dev/log " "$guard_log") == 2 ]]'
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod 755 "$root/usr/sbin/policy-rc.d"
dpkg_ -r norvale
check "policy-rc.d did not refuse the stop" grep -q "policy-rc.d denied execution of stop" dpkg-r.log
removed "while the guard runs" /var/lib/norvale/phonebook.conf /var/lib/norvale/nv4.ini

# The real line, with its phonebook /etc/wvdial.conf and its modem fenced in the kernel; the guard
# killed, the removal gives them back.
dpkg_ -i /tmp/norvale.deb
in_root socat PTY,link=/run/modem,raw,echo=0 EXEC:"sleep 3600" 2>/dev/null &
printf '[Dialer Test]\nModem = /run/modem\nPhone = 0612345678\n' >"$root/etc/wvdial.conf" && chmod 600 "$root/etc/wvdial.conf"
printf 'backend=ppp\nallow=/usr/bin/socat /usr/bin/sleep\n' >"$root/etc/norvale/dialer.conf"
require "the modem's pty is there" wait_until 5 test -e "$root/run/modem"
init start
eventually 15 "the guard pins no fence" quiet new_pins
eventually 10 "the guard does not lock /etc/wvdial.conf" locked /etc/wvdial.conf
kill -KILL "$(cat "$root/run/norvale/private/guard.pid")" && wait_until 10 guard_gone
check "the killed guard's fence or lock is gone before the removal" eval 'quiet new_pins && immutable "$root/etc/wvdial.conf"'
dpkg_ -r norvale
removed "after the guard was killed" /etc/wvdial.conf /var/lib/norvale/nv4.ini
dpkg_ --purge norvale
for left in /var/lib/norvale /etc/norvale /usr/share/norvale /run/norvale /etc/xdg/autostart/norvale.desktop \
    "/var/log/norvale-guard.log*" /etc/logrotate.d/norvale \
    /etc/init.d/norvale-guard "/etc/rc2.d/S*norvale-guard" /etc/systemd/system/multi-user.target.wants/norvale-guard.service; do
    check "$left is left after the purge" not compgen -G "$root$left"
done
((failures == 0)) || tail -n 20 ./*.log >&2
finish
