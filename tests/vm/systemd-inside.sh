#!/usr/bin/env bash
# Runs as a service of systemd (PID 1) inside the VM: systemd-inside.sh BUILD DEB NEWER_DEB TESTS.
# See systemd-unit.sh.
# shellcheck source=tests/e2e/lib.sh disable=SC2016
source "$4/../e2e/lib.sh" || exit 1
# shellcheck source=tests/vm/isp.sh
source "$4/isp.sh" || exit 1
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
build=$1 deb=$2 newer=$3
unit=norvale-guard.service pins=/sys/fs/bpf/norvale-guard
tmp=$(mktemp -d /tmp/systemd.XXXXXX)
modem=/run/modem Provider=0612345678 Premium=0899123456 User=utente Password=segreto-del-provider
Near=10.64.0.2 Far=10.64.0.1 Dns=10.64.0.53
Both='["cgroup","lsm"]'

step_ms=$(now_ms)
# step TEXT: what follows, and how long the last step took.
step() {
    local now
    now=$(now_ms)
    echo "--- $1 (after $(((now - step_ms) / 100))00 ms)"
    step_ms=$now
}
main_pid() { systemctl show -P MainPID "$unit"; }
active() { [[ $(systemctl is-active "$unit") == active ]]; }
ask() { printf '{"v":1,"id":1,"op":"%s"}\n' "$1" | socat -t 5 - UNIX-CONNECT:/run/norvale/guard.sock | head -n 1; }
layers_are() { [[ $(ask hello | jq -c .fence) == "$1" ]]; }
# said_since SECONDS TEXT: the guard's journal has TEXT since then.
said_since() { journalctl -q -o cat -u "$unit" --since "@$1" | grep -qF -- "$2"; }
# holds SECONDS WHAT: a started guard holds both layers and says so, in the journal and to a display.
holds() {
    check "the guard does not say both layers hold $2" said_since "$1" "the device cgroup program and the BPF LSM programs hold"
    check "hello does not report both layers $2" layers_are "$Both"
}
pinned() { [[ -e $pins/device ]]; }
readable_by_root() { head -c1 "$1" >/dev/null 2>&1; }
released() { readable_by_root "$1" && ! immutable "$1"; }
got() { grep -q "$1" "$tmp/$line.in" 2>/dev/null; }
# A root writer outside the guard, while the modem is in command mode (a dial would take the line to
# the ISP): what reaches the modem is in its record.
root_writes() { printf 'ATI%s\r' "$1" >"$modem" 2>/dev/null; sleep 0.5; }
# The modem emulator ends with the call it carried, as the line drops: each call gets a fresh one.
lines=0
next_modem() {
    [[ -n ${modem_pid:-} ]] && wait_until 10 not alive "$modem_pid"
    line=m$((++lines))
    require "a modem answers" new_modem $line
}
dial() {
    local said
    said=$(norvale-line dial "$1" 2>&1)
    check "the guard's call of $1 does not connect $2: $said" test "$?: $said" = "0: connected: $1"
}
hang_up() { ask hang_up >/dev/null && wait_until 10 test ! -e /sys/class/net/ppp0 && next_modem; }

# A machine of its own: this host's image forbids service starts (policy-rc.d, as container images
# do), and man-db's index of every page would take a minute under emulation.
rm -f /usr/sbin/policy-rc.d /var/lib/man-db/auto-update

# What an administrator sets before installing: the real line, its phonebook, an authorised entry.
mkdir -p /etc/norvale /var/lib/norvale /etc/systemd/system/$unit.d
printf '[Dialer Provider]\nModem = %s\nPhone = %s\nUsername = %s\nPassword = %s\n' "$modem" "$Provider" \
    "$User" "$Password" >/etc/wvdial.conf
chmod 600 /etc/wvdial.conf
printf 'backend=ppp\nphonebook=/etc/wvdial.conf\nallow=%s %s\n' "$(command -v socat)" \
    "$(readlink -f "$build/modem-emulator")" >/etc/norvale/dialer.conf
{
    printf '%s[Connections]\r\n' "$IniBanner"
    connection_row 0 "Provider" "$Provider" true true 0 10 14
} >/var/lib/norvale/nv4.ini
# The watchdog's 30 s would take most of the test's time.
printf '[Service]\nWatchdogSec=3\n' >/etc/systemd/system/$unit.d/vm-watchdog.conf
isp_prepare ms-dns "$Dns"
next_modem
root_writes 0000
require "with no guard a root writer reaches the modem" got ATI0000

step "install: the unit starts on the real line, the stock pppd scripts under its sandbox"
t=$(date +%s)
check "dpkg -i fails" exits_with 0 "$tmp/dpkg-i.log" dpkg --force-confold -i "$deb"
check "the unit is not active after the install" active
check "the guard is not enabled" test "$(systemctl is-enabled "$unit")" = enabled
holds "$t" "after the install"
check "the fence is not pinned in the host's bpffs, seen from PID 1's mount namespace" \
    eval 'pinned && grep -q " /sys/fs/bpf bpf " /proc/1/mounts'
check "the guard's bpffs is not the host's" eval \
    '[[ $(stat -c %i $pins) == $(nsenter -t "$(main_pid)" -m stat -c %i $pins 2>/dev/null) ]]'
check "the guard does not hold its phonebook" not readable_by_root /etc/wvdial.conf
root_writes "${Premium}1"
check "a root writer gets a byte to the fenced modem" not got "ATI${Premium}1"
dial Provider "under the unit"
check "ppp0 is not up with $Near" eval 'ip -4 -o addr show dev ppp0 | grep -q "inet $Near peer $Far/32"'
eventually 10 "Debian's ip-up.d/0000usepeerdns did not write the ISP's DNS server into /etc/resolv.conf" \
    grep -q "nameserver $Dns" /etc/resolv.conf
# Under the sandbox nothing the guard does may go wrong quietly (its pppd's own mount namespace, the
# fence's self-test, the locks): each would be a warning. The refusal of this test's writer is one.
warned=$(journalctl -q -o cat -p warning -u "$unit" --since "@$t" | grep -v "modem fence: refused an open of $modem")
check "the guard warned under its sandbox: $warned" test -z "$warned"
echo "systemd-analyze security: $(systemd-analyze security --no-pager "$unit" | tail -n 1)"

step "restart while the call is up: the call stays, the new guard takes it and the fence over"
t=$(date +%s) pid=$(main_pid) pppd=$(pgrep -x pppd)
check "systemctl restart fails" systemctl restart "$unit"
check "restart kept the old guard" test "$(main_pid)" != "$pid"
holds "$t" "after a restart during a call"
check "the call did not stay up" test "$(pgrep -x pppd)" = "$pppd" -a -e /sys/class/net/ppp0
eventually 10 "the new guard did not take the call over" eval '[[ $(ask hello | jq -r ".connected, .entry" | paste -sd " ") == "true Provider" ]]'
writer ATDT${Premium}2
check "a root writer got a byte to the modem during the call" not got "ATDT${Premium}2"
check "the guard's journal does not name the writer it refused" said_since "$t" "modem fence: refused an open of $modem to $tmp/writer"
check "the line did not stay up" test -e /sys/class/net/ppp0
check "the restarted guard does not hang up" hang_up
dial Provider "after the restart"
hang_up

step "stop: settings saved, files released, the modem fenced still"
t=$(date +%s)
check "systemctl stop fails" systemctl stop "$unit"
check "the stopped guard did not save" said_since "$t" "settings saved"
check "the stopped guard left its phonebook locked" released /etc/wvdial.conf
check "the stopped guard left nv4.ini locked" released /var/lib/norvale/nv4.ini
check "the stopped guard took the fence with it" pinned
root_writes "${Premium}3"
check "a root writer reaches the modem after a stop" not got "ATI${Premium}3"

step "start"
t=$(date +%s)
check "systemctl start fails" systemctl start "$unit"
holds "$t" "after a start"

step "restart while idle"
t=$(date +%s) pid=$(main_pid)
check "systemctl restart fails" systemctl restart "$unit"
check "restart kept the old guard" test "$(main_pid)" != "$pid"
holds "$t" "after a restart"
root_writes "${Premium}4"
check "a root writer reaches the modem across a restart" not got "ATI${Premium}4"
dial Provider "after an idle restart"
hang_up

step "watchdog: a stopped guard is ended and started again"
t=$(date +%s) pid=$(main_pid)
kill -STOP "$pid"
eventually 30 "the watchdog does not restart a stopped guard" eval '[[ $(main_pid) != "$pid" && $(main_pid) != 0 ]] && active'
check "systemd does not say the watchdog ended it" eval 'journalctl -q -o cat --since "@$t" | grep -q "Watchdog timeout"'
eventually 10 "the restarted guard does not report both layers" layers_are "$Both"

step "upgrade while running: restarted by the maintainer scripts, authorisations kept"
t=$(date +%s) pid=$(main_pid)
check "dpkg -i of the newer version fails" exits_with 0 "$tmp/dpkg-upgrade.log" dpkg -i "$newer"
check "the upgrade did not restart the guard" eval '[[ $(main_pid) != "$pid" ]] && active'
holds "$t" "after the upgrade"
dial Provider "after the upgrade"
hang_up
systemctl stop "$unit"
check "the upgrade lost nv4.ini's authorised row" file_has /var/lib/norvale/nv4.ini \
    "ConName0=$(encode Provider)"$'\r\n'"ConNumber0=$(encode $Provider)"$'\r\n'"ConAuth0=true"$'\r\n'
systemctl start "$unit"

step "remove: nothing locked, nothing pinned"
check "dpkg -r fails" exits_with 0 "$tmp/dpkg-r.log" dpkg -r norvale
check "a guard is left after the removal" not active
check "the removal left the phonebook locked" released /etc/wvdial.conf
check "the removal left nv4.ini locked" released /var/lib/norvale/nv4.ini
check "the removal left the fence pinned" not eval 'compgen -G "/sys/fs/bpf/norvale-guard*"'
root_writes "${Premium}5"
check "the modem is not free after the removal" got "ATI${Premium}5"

step "purge: nothing left"
check "dpkg --purge fails" exits_with 0 "$tmp/dpkg-purge.log" dpkg --purge norvale
for left in /var/lib/norvale /etc/norvale /run/norvale /lib/systemd/system/$unit \
    /etc/systemd/system/multi-user.target.wants/$unit; do
    check "$left is left after the purge" not test -e "$left"
done
step "end"
((failures == 0)) || { tail -n 20 "$tmp"/*.log; journalctl -q -o short-monotonic -u "$unit" | tail -n 40; }
finish
