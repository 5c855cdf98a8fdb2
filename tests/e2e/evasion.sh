#!/usr/bin/env bash
# evasion.sh BUILD: other programs' ways to dial past the installed guard on the real line, against
# the modem emulator; the authorised entry dialled through the guard connects. With no /dev/ppp
# here, a stand-in named pppd runs the real chat with pppd's options.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/e2e/real-line.sh
source "$(dirname "$0")/real-line.sh"
e2e_start "$1" no-desktop

# socat and the emulator hold the pty's far end, as no real modem's line does. The fence off: what
# guards here is the device's mode and the holder watch alone. A fresh emulator for each call.
real_line
echo fence=off >>"$conf/dialer.conf"
dialled() { got "ATD.*$1"; }
chat_to() { echo "chat -t 5 '' ATZ OK ATDT$1 CONNECT ''"; }

require "a modem answers" new_modem
unguarded=$(modem_mode)
start_guard
eventually 3 "the guard keeps the modem for root alone" eval '[[ $(modem_mode) == 0:*:600 ]]'
check "the guard says the fence is off" grep -q "modem fence: off (fence=off)" "$tmp/guard.log"

# foreign WHAT COMMAND...: another program's call on a fresh modem ends within 5 s, and is logged.
foreign() {
    local pid told
    require "$1: a modem answers" new_modem
    told=$(grep -c "hung up" "$tmp/guard.log")
    "${@:2}" >>"$tmp/foreign.log" 2>&1 &
    pid=$!
    helper_pids+=("$pid")
    eventually 5 "$1: the call is ended" not alive "$pid"
    check "$1: the guard's log tells of it" test "$(grep -c "hung up" "$tmp/guard.log")" -gt "$told"
    end_process "$pid"
}

foreign "pppd call Premium" "$tmp/pppd" "$modem" call Premium connect "$(chat_to "$Premium")"
foreign "pppd linkname Provider, another number" \
    "$tmp/pppd" "$modem" linkname Provider connect "$(chat_to "$Premium")"

# A decoy with wvdial's command line for Provider, waiting for nothing.
mkfifo "$tmp/idle"
(exec -a wvdial /bin/bash -s -C "$conf/wvdial.conf" Provider <>"$tmp/idle") &
helper_pids+=($!)
foreign "pppd call Premium after a wvdial decoy" "$tmp/pppd" "$modem" call Premium connect "$(chat_to "$Premium")"

require "a modem answers" new_modem
setpriv --reuid "$Nobody" --regid "$Nobody" --groups dialout sh -c "exec >$modem" 2>/dev/null
check "a user of the group dialout cannot open the modem" test $? -ne 0
check "nothing reached the modem" not dialled "$Premium"

foreign "root's writer under another name" bash -c "exec -a notadialer bash -c 'exec >$modem; printf \"ATZ\r\"; sleep 0.3; printf \"ATDT$Premium\r\"; sleep 30'"

# chat -f on a FUSE file system that never answers: the guard reads the file in a child it kills
# after 2 s, answers its displays meanwhile, and counts the number as unreadable.
mkdir "$tmp/fuse"
python3 - "$tmp/fuse" <<'PY' &
import os, subprocess, sys, time
fd = os.open("/dev/fuse", os.O_RDWR)
subprocess.run(["mount", "-t", "fuse", "-o", f"fd={fd},rootmode=40000,user_id=0,group_id=0", "stall", sys.argv[1]],
               pass_fds=[fd], check=True)
time.sleep(600)  # holds the device and never reads a request
PY
helper_pids+=($!)
wait_until 5 grep -q " $tmp/fuse fuse" /proc/mounts
# A bare chat is no authorised call whatever it dials: the guard may end it before it starts to read
# its script, and then there is no read to stall. Five tries for one that reads.
stalled() {
    local pid start answered try
    for try in 1 2 3 4 5; do
        require "a modem answers" new_modem
        told=$(grep -c "hung up" "$tmp/guard.log")
        chat -t 3 -f "$tmp/fuse/script" <"$modem" >"$modem" 2>/dev/null &
        pid=$!
        helper_pids+=("$pid")
        sleep 0.5
        alive "$pid" && break
    done
    start=$(now_ms)
    guard_requests 0 '{"v":1,"id":1,"op":"hello"}' | head -1 | grep -q '"ok":true' && answered=$(($(now_ms) - start))
    check "while the read stalls the guard answers a display ($((answered)) ms)" test "${answered:-9999}" -lt 1000
    eventually 6 "the call whose file never answers is ended" not alive "$pid"
    check "its reader was killed and its number counts as unreadable" \
        grep -q "reading the files that pid $pid names took over 2000 ms: the reader was killed" "$tmp/guard.log"
    check "the guard's log tells of it" test "$(grep -c "hung up" "$tmp/guard.log")" -gt "$told"
    eventually 3 "no reader is left, not even unreaped" eval '[[ $(descendants "$guard_pid") == "$guard_pid" ]]'
}
stalled
umount -l "$tmp/fuse"

require "a modem answers" new_modem
: >"$tmp/events"
held 0 "$tmp/events" '{"v":1,"id":1,"op":"hello"}
{"v":1,"id":2,"op":"dial_default"}
'
eventually 10 "Provider connects" \
    quiet jq -se 'any(.event == "connect" and .entry == "Provider" and .authorised)' "$tmp/events"
# Another user's process named pppd is no call: it cuts nothing. Another user's chat under another
# name, on a line of its own whose far end takes its time, is ended; the call goes on.
setpriv --reuid "$Nobody" --regid "$Nobody" --clear-groups bash -c 'exec -a pppd sleep 2' &
helper_pids+=($!)
socat "PTY,link=$tmp/line2,raw,echo=0" "EXEC:\"$build/modem-emulator --delay 5000 --record $tmp/line2.rec\"" \
    2>>"$tmp/socat.log" &
helper_pids+=($!)
wait_until 5 test -e "$tmp/line2.rec" -a -e "$tmp/line2"
setpriv --reuid "$Nobody" --regid "$Nobody" --clear-groups bash -c "exec -a sleep chat -t 30 '' ATZ OK ATDT$Premium CONNECT ''" \
    <"$tmp/line2" >"$tmp/line2" 2>/dev/null &
other=$!
helper_pids+=("$other")
eventually 5 "another user's chat under another name is ended during Provider's call" not alive "$other"
check "the guard's log names that chat, its pid and uid" \
    grep -q "ending another program's call: /usr/sbin/chat, pid $other, uid $Nobody" "$tmp/guard.log"
sleep 0.5
check "Provider's call stays up, also while another user's process named pppd runs" \
    not grep -q '"event":"disconnect"' "$tmp/events"
own=$(pgrep -f "^pppd $tmp/pppd")
check "the guard's own pppd runs" test -n "$own"
guard_requests 0 '{"v":1,"id":1,"op":"hang_up"}' >/dev/null
eventually 5 "Disconnetti ends the guard's own call" not alive "${own:-0}"

terminate guard_pid "the guard"
check "the modem's owner, group and mode are given back ($unguarded)" test "$(modem_mode)" = "$unguarded"

# A phonebook naming a system file as its modem changes nothing; nor does one that others may
# write, whatever it names.
printf 'secret\n' >"$tmp/system-file"
chmod 644 "$tmp/system-file"
printf '[Dialer Provider]\nModem = %s\nPhone = %s\n\n[Dialer Other]\nModem = %s\nPhone = 1\n' \
    "$tmp/system-file" "$Provider" "$modem" >"$conf/wvdial.conf"
chmod 666 "$conf/wvdial.conf"
start_guard
check "the system file keeps its owner and mode" test "$(stat -c %u:%a "$tmp/system-file")" = 0:644
check "the modem named by a phonebook others may write keeps its mode ($unguarded)" test "$(modem_mode)" = "$unguarded"
check "the journal says why" grep -q "can be changed by others than root" "$tmp/guard.log"
terminate guard_pid "the guard"
chmod 600 "$conf/wvdial.conf"
start_guard
check "from a phonebook only root may write, still no system file is touched" \
    test "$(stat -c %u:%a "$tmp/system-file")" = 0:644
check "and the journal names it" grep -q "the modem $tmp/system-file is left as it is" "$tmp/guard.log"
terminate guard_pid "the guard"
finish
