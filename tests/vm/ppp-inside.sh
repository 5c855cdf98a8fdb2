#!/usr/bin/env bash
# Runs inside the VM: ppp-inside.sh BUILD TESTS GST_REGISTRY. See ppp-call.sh.
# The e2e tests' helpers: check, require, wait_until, eventually, connection_row, finish.
source "$2/../e2e/lib.sh" || exit 1
# shellcheck source=tests/vm/isp.sh
source "$2/isp.sh" || exit 1
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
build=$1 tests=$2 registry=$3
tmp=$(mktemp -d /tmp/ppp.XXXXXX)
chmod 755 "$tmp"
app=$tmp/app run=$tmp/run modem=$tmp/modem log=$tmp/guard.log events=$tmp/events
Provider=0612345678 Premium=0899123456 User=utente Password=segreto-del-provider
Near=10.64.0.2 Far=10.64.0.1 Up=150000 Down=300000
has() { grep -qF -- "$2" "$1" 2>/dev/null; }
once() { [[ $(grep -cF -- "$2" "$1" 2>/dev/null) == 1 ]]; }
phase() { echo "$(($(now_ms) - script_started_ms)) ms: $*"; }
report() {
    local f
    ((failures == 0)) || for f in "$log" "$events" "$tmp"/{dip,writer,socat,traffic,atspi,display}.log; do
        [[ -s $f ]] && { echo "--- ${f##*/}"; tail -n 30 "$f"; } >&2
    done
    finish
}
trap report EXIT

# The display's user's desktop comes up meanwhile: X, a session bus, the accessibility bus, and the
# strip's reader, whose python takes seconds to load.
home=$tmp/nobody
mkdir -m 700 "$home" "$home/runtime" && chown -R "$Nobody:$Nobody" "$home"
as_nobody() {
    setpriv --reuid "$Nobody" --regid "$Nobody" --clear-groups env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" \
        DISPLAY=:7 DBUS_SESSION_BUS_ADDRESS="unix:path=$home/runtime/bus" "$@"
}
Xvfb :7 -nolisten tcp -screen 0 1024x768x24 >"$tmp/xvfb.log" 2>&1 &
as_nobody dbus-daemon --session --nofork --nopidfile --address="unix:path=$home/runtime/bus" >"$tmp/bus.log" 2>&1 &
(wait_until 30 test -S "$home/runtime/bus" && as_nobody /usr/libexec/at-spi-bus-launcher --launch-immediately) \
    >"$tmp/atspi.log" 2>&1 &
coproc READER { as_nobody /usr/bin/python3 -u "$tests/strip-reader.py" 2>>"$tmp/atspi.log"; }
read_strip() {
    local line
    tree=''
    echo read >&"${READER[1]}" || return 1
    while IFS= read -r -t 30 line <&"${READER[0]}"; do
        [[ $line == . ]] && return 0
        tree+=$line$'\n'
    done
    return 1
}
# node ROLE [X,Y]: in the strip last read, the name of the first node of that role (at that place).
node() { awk -F'\t' -v role="$1" -v at="${2:-}" '$1 == role && (at == "" || $3 == at) { print $2; exit }' <<<"$tree"; }
totals() { echo "$(node label 280,20) $(node label 364,20)"; }
# The design's "#,##0.000" in KB, MB or GB (1 KB = 1000 bytes) of the bytes sent and received.
totals_of() {
    awk -v sent="$1" -v received="$2" 'function text(v, u, d, s, i) {
        u = " KB"; d = 1e3; if (v > 1e9) { u = " GB"; d = 1e9 } else if (v > 1e6) { u = " MB"; d = 1e6 }
        s = sprintf("%.3f", v / d); i = substr(s, 1, length(s) - 4)
        while (match(i, /[0-9][0-9][0-9][0-9](,|$)/)) i = substr(i, 1, RSTART) "," substr(i, RSTART + 1)
        return i substr(s, length(s) - 3) u }
        BEGIN { print text(sent), text(received) }'
}

isp_prepare
# The system's syslog, where nothing of the guard's own call may arrive.
socat -u UNIX-RECV:/dev/log OPEN:"$tmp/syslog",creat,append 2>/dev/null &
# pppd's scripts log through logger; the ip-down one takes a second and a half, as a VPN's or a
# firewall's may, and meanwhile pppd runs on without its interface.
for when in up down; do
    mkdir "$tmp/ip-$when.d" && cp -p /etc/ppp/ip-$when.d/* "$tmp/ip-$when.d/"
    printf '#!/bin/sh\nlogger -t norvale-test "ip-%s $1 $4 $5"\n' "$when" >"$tmp/ip-$when.d/zz-norvale-test"
    chmod 755 "$tmp/ip-$when.d/zz-norvale-test"
    mount --bind "$tmp/ip-$when.d" "/etc/ppp/ip-$when.d"
done
echo 'sleep 1.5' >>"$tmp/ip-down.d/zz-norvale-test"
# A member of dip dials with the setuid pppd, on the peers file an administrator left for pon, with
# a connect script of its own that holds the line in data mode for 10 s after the CONNECT.
mkdir "$tmp/peers" && printf 'noauth\n%s\n' "$modem" >"$tmp/peers/Provider"
mount --bind "$tmp/peers" /etc/ppp/peers
dip=$(getent group dip | cut -d: -f3)
dip_pppd() {
    setpriv --reuid 4242 --regid 4242 --groups "$dip" /usr/sbin/pppd call Provider nodetach \
        connect "/usr/sbin/chat -v -t 10 '' ATDT$Provider CONNECT '' HOLD ''" >>"$tmp/dip.log" 2>&1
}
# Controls, with no guard: a dip member's pppd reaches the modem, and a root writer's bytes reach it
# while that call is in data mode, so that the record shows what gets through at any time.
require "a modem answers" new_modem m0
dip_pppd &
dipper=$!
eventually 15 "with no guard a dip member's pppd dials through the modem" has "$tmp/m0.in" "ATDT$Provider"
writer ATDT089912
eventually 5 "with no guard a root writer's bytes reach the modem during that call" has "$tmp/m0.in" ATDT089912
# The ISP's pppd of that call goes, which would keep its ppp0.
kill -KILL $(ip netns pids isp)
kill "$dipper" "$modem_pid" 2>/dev/null
wait "$dipper" "$modem_pid"
phase "controls done"

require "a modem answers" new_modem m1
mkdir -m 755 "$app" && cp "$build/norvale-guard" "$build/norvale-line" "$app/"
printf '[Dialer Defaults]\nModem = %s\nBaud = 57600\nUsername = %s\nPassword = %s\n
[Dialer Provider]\nPhone = %s\n\n[Dialer Premium]\nPhone = %s\n' "$modem" "$User" "$Password" "$Provider" "$Premium" \
    >"$app/wvdial.conf"
chmod 600 "$app/wvdial.conf"
printf 'backend=ppp\nphonebook=%s\nallow=%s %s\n' "$app/wvdial.conf" "$(command -v socat)" "$build/modem-emulator" \
    >"$app/dialer.conf"
provider_and_premium "$app/nv4.ini"
"$app/norvale-guard" --folder "$app" --run-dir "$run" >"$log" 2>&1 &
require "the guard starts guarding" wait_until 30 has "$log" "norvale-guard: guarding"
phase "guard started"
# The display, as after a login. GStreamer's plugin registry was made on the host: scanning every
# plugin takes long under emulation.
as_nobody env QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NORVALE_AUDIO_SINK="fakesink sync=true" \
    GST_REGISTRY="$registry" GST_REGISTRY_UPDATE=no "$build/norvale" --guard-socket "$run/guard.sock" \
    >"$tmp/display.log" 2>&1 &
# The displays' view: hello, then every event.
(printf '{"v":1,"id":1,"op":"hello"}\n'; exec sleep 600) | socat - "UNIX-CONNECT:$run/guard.sock" >"$events" &
require "the guard answers hello" wait_until 10 test -s "$events"
line() { "$app/norvale-line" --guard-socket "$run/guard.sock" "$@"; }
guard_ask() { printf '{"v":1,"id":1,"op":"%s"}\n' "$1" | socat -t 5 - "UNIX-CONNECT:$run/guard.sock"; }

said=$(line dial Premium 2>&1)
check "an entry that is not authorised is hung up: $said" test "$?: $said" = "1: hung up: Premium (error 631): not authorised"
check "not a byte of its call reached the modem ($(stat -c %s "$tmp/m1.in") bytes)" test ! -s "$tmp/m1.in"
stages='{"event":"status","state":0,"v":1} {"event":"status","state":1,"v":1} {"event":"status","state":2,"v":1}'
eventually 3 "the displays saw its stages up to the device's, and nothing after" \
    eval '[[ $(tail -n +2 "$events" | paste -sd " ") == "$stages" ]]'
dip_pppd
check "the dip member's pppd got nothing to the modem ($(stat -c %s "$tmp/m1.in") bytes)" test ! -s "$tmp/m1.in"
# One that gives up at once is gone when the guard looks: it is named by its name alone.
check "the guard's log has the fence's refusal of the dip member's pppd" \
    grep -qE "modem fence: refused an open of $modem to (/usr/sbin/)?pppd \(pid [0-9]+, uid 4242\)" "$log"
eventually 3 "the displays read the blocked program" grep -qE '"text":"Chiamata bloccata: (/usr/sbin/)?pppd"' "$events"

said=$(line dial Provider 2>&1)
require "the guard's own call connects: $said" test "$?: $said" = "0: connected: Provider"
phase "connected"
check "the guard's chat dialled Provider through the modem" has "$tmp/m1.in" "ATDT$Provider"
near=$(ip -4 -o addr show dev ppp0)
far=$(ip -n isp -4 -o addr show dev ppp0)
check "ppp0 has $Near, its peer $Far: $near" eval '[[ $near == *"inet $Near peer $Far/32 "* ]]'
check "the ISP's ppp0 has $Far, its peer $Near: $far" eval '[[ $far == *"inet $Far peer $Near/32 "* ]]'
eventually 10 "the ip-up script's logger line is in the guard's log once, tagged with the entry" \
    once "$log" "norvale-test[Provider]: ip-up ppp0 $Near $Far"
check "so is each of chat's lines" once "$log" "chat[Provider]: send (ATDT$Provider^M)"
eventually 5 "the ISP's ip-up line reached the system's syslog" has "$tmp/syslog" "ip-up ppp0 $Far $Near"
check "the guard's call's lines did not reach it" not grep -qE "ip-up ppp0 $Near|local  IP address $Near" "$tmp/syslog"

# Traffic each way, a fixed number of bytes over TCP between the two namespaces.
stats() { local s=/sys/class/net/ppp0/statistics; echo "$(<$s/tx_bytes) $(<$s/rx_bytes)"; }
isp_stats() { ip netns exec isp sh -c 'cd /sys/class/net/ppp0/statistics && read t <tx_bytes && read r <rx_bytes && echo $t $r'; }
read -r tx0 rx0 < <(stats)
read -r isp_tx0 isp_rx0 < <(isp_stats)
ip netns exec isp socat -u TCP-LISTEN:5001,bind=$Far OPEN:"$tmp/isp.got",creat 2>>"$tmp/traffic.log" &
isp_in=$!
ip netns exec isp sh -c "head -c $Down /dev/urandom | socat -u - TCP-LISTEN:5002,bind=$Far" 2>>"$tmp/traffic.log" &
isp_out=$!
head -c "$Up" /dev/urandom | socat -u - "TCP:$Far:5001,retry=50,interval=0.1" 2>>"$tmp/traffic.log" &
socat -u "TCP:$Far:5002,retry=50,interval=0.1" OPEN:"$tmp/near.got",creat 2>>"$tmp/traffic.log"
wait "$isp_in" "$isp_out"
phase "traffic done"
check "the ISP got the $Up bytes sent" test "$(stat -c %s "$tmp/isp.got")" = "$Up"
check "the $Down bytes sent back arrived" test "$(stat -c %s "$tmp/near.got")" = "$Down"
read -r got_in got_out < <(stat -c %s "$tmp/m1.in" "$tmp/m1.out" | paste -sd ' ')
check "the emulator passed them on: $got_in bytes from the line, $got_out to it" \
    test "$got_in" -ge "$Up" -a "$got_out" -ge "$Down"
read -r tx rx < <(stats)
read -r isp_tx isp_rx < <(isp_stats)
check "ppp0's tx_bytes grew by at least $Up: $tx0 -> $tx" test $((tx - tx0)) -ge "$Up"
check "ppp0's rx_bytes grew by at least $Down: $rx0 -> $rx" test $((rx - rx0)) -ge "$Down"
check "the ISP's rx_bytes grew by at least $Up: $isp_rx0 -> $isp_rx" test $((isp_rx - isp_rx0)) -ge "$Up"
check "the ISP's tx_bytes grew by at least $Down: $isp_tx0 -> $isp_tx" test $((isp_tx - isp_tx0)) -ge "$Down"
# The guard's counters, between two equal readings of the kernel's.
counted() {
    local before answer
    before=$(stats) answer=$(guard_ask counters) kernel=$(stats)
    [[ $answer =~ \"online\":true,\"received\":([0-9]+),\"sent\":([0-9]+) ]] || return 1
    guard="${BASH_REMATCH[2]} ${BASH_REMATCH[1]}"
    [[ $before == "$kernel" && $guard == "$kernel" ]]
}
eventually 5 "the guard's counters, online, are the kernel's" counted
want=$(totals_of "${kernel% *}" "${kernel#* }")
eventually 10 "the strip's totals read the kernel's counters ($want)" eval 'read_strip && [[ $(totals) == "$want" ]]'
check "the strip's status line reads the connection" test "$(node "status bar")" = "Connesso con Provider IP:$Near"
phase "strip read"
echo "figures: sent $Up and received $Down bytes; ppp0 tx +$((tx - tx0)) rx +$((rx - rx0)), the ISP's rx" \
    "+$((isp_rx - isp_rx0)) tx +$((isp_tx - isp_tx0)); the kernel's sent/received $kernel, the guard's $guard," \
    "the strip's $(totals)"

# A root writer during the call: the line stays up, the displays read who was refused.
connected_at=$(grep -n '"event":"connect"' "$events" | cut -d: -f1)
since_connect() { tail -n +"$((connected_at + 1))" "$events"; }
writer ATDT089931
check "during the call a root writer got nothing through" not has "$tmp/m1.in" ATDT089931
check "the guard's log has the fence's refusal of the writer" has "$log" "modem fence: refused an open of $modem to $tmp/writer"
eventually 3 "the displays read the writer refused" has "$events" "\"text\":\"Chiamata bloccata: $tmp/writer\""
check "and the line stays up" not grep -q '"event":"disconnect"' <(since_connect)
phase "writer done"

# The ISP hangs up: its pppd ends at once, the carrier is lost.
read -r tx rx < <(stats)
want=$(totals_of "$tx" "$rx")
kill -KILL $(ip netns pids isp)
require "ppp0 goes with the line" wait_until 15 test ! -e /sys/class/net/ppp0
answer=$(guard_ask counters)
check "while pppd runs its ip-down script, the guard's counters are still the call's ($tx $rx): $answer" \
    eval '[[ $answer == *"\"online\":true,\"received\":$rx,\"sent\":$tx,"* ]]'
eventually 15 "the displays are told of the drop" eval 'since_connect | grep -q "\"event\":\"disconnect\""'
after=$(since_connect | grep -v '"text":"Chiamata bloccata' | paste -sd ' ')
check "after the connect, the events are the closed connection and its end: $after" \
    test "$after" = '{"event":"status","state":8193,"v":1} {"event":"disconnect","v":1}'
check "pppd said the modem hung up" has "$log" "pppd[Provider]: Modem hangup"
check "the ip-down script's logger line is in the guard's log once" once "$log" "norvale-test[Provider]: ip-down ppp0 $Near $Far"
check "the password is nowhere in the guard's log" not has "$log" "$Password"
hello=$(guard_ask hello)
check "hello says the line is down: $hello" eval '[[ $hello == *"\"connected\":false"* ]]'
eventually 5 "the strip's status line reads Disconnected." eval 'read_strip && [[ $(node "status bar") == Disconnected. ]]'
check "and its totals still read the call's ($want), as the line left them: $(totals)" test "$(totals)" = "$want"
phase "drop done"
