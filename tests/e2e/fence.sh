#!/usr/bin/env bash
# fence.sh BUILD: a root dialler against the modem fenced in the kernel (the device cgroup layer;
# this machine's kernel runs no BPF LSM), on the real line against the modem emulator. Each attack
# first runs with no fence, where it must reach the modem, so that a harness writing to the wrong
# device cannot pass; then against the guard. What only the LSM layer stops is the VM's
# (tests/vm/lsm-inside.sh).
# shellcheck shell=bash disable=SC2016
source "$(dirname "$0")/lib.sh"
# shellcheck source=tests/e2e/real-line.sh
source "$(dirname "$0")/real-line.sh"
e2e_start "$1" no-desktop
for tool in socat jq python3 setpriv mknod; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done

# An allowed program (a copy of bash: known by its file, not by its path) and a stranger to put
# over its path with a bind mount. The modem silent unless told: every dial string is recorded.
cp /bin/bash "$tmp/allowed" && cp /bin/bash "$tmp/stranger"
real_line "$tmp/allowed"
mkfifo "$tmp/idle"
modem_dial=silent
# The fence's refusal, or the holder watch's hang-up when it ends a dialler before its open.
refusals() { grep -cE "modem fence: refused|hung up a call" "$tmp/guard.log"; }
pins=/sys/fs/bpf/norvale-guard-$(printf '%s' "$run/private" | sha256sum | cut -c1-12)
cgroup_root=$(awk '$9 == "cgroup2" && $4 == "/" { print $5; exit }' /proc/self/mountinfo)
attached() { bpftool cgroup show "$cgroup_root" 2>/dev/null | grep -q fence_device; }

# The attacks, each as root, each with its own dial string.
attacks=(innocent closed mknod changed decoy bound)
attack() {
    local n=$1
    exec 3>&2 2>>"$tmp/attacks.log"
    case $n in
    innocent) bash -c "exec -a notadialer bash -c 'exec >$modem; printf \"ATDT${Premium}1\r\"; sleep 30'" & ;;
    closed) printf 'ATDT%s2\r' "$Premium" >"$modem" & ;;
    mknod)
        # A pty opens only through its own devpts: the node itself is what is refused.
        read -r major minor < <(stat -L -c '%t %T' "$modem")
        rm -f "$tmp/alias"
        mknod "$tmp/alias" c $((16#$major)) $((16#$minor)) 2>/dev/null & ;;
    changed)
        # pppd call Provider with the chat script changed after the guard read it.
        printf "'' ATZ OK ATDT%s6 CONNECT ''\n" "$Provider" >"$tmp/provider.chat"
        (sleep 0.2; printf "'' ATZ OK ATDT%s6 CONNECT ''\n" "$Premium" >"$tmp/provider.chat") &
        "$tmp/pppd" "$modem" call Provider connect "sleep 0.5; chat -t 3 -f $tmp/provider.chat" & ;;
    decoy)
        # pppd naming Provider on another line, then a writer on the real modem.
        (exec -a pppd /bin/bash -s /dev/ttyS9 call Provider <>"$tmp/idle") &
        helper_pids+=($!)
        printf 'ATDT%s7\r' "$Premium" >"$modem" & ;;
    bound)
        # Another program bind-mounted over an allowed program's path.
        unshare --mount --propagation private bash -c \
            "mount --bind $tmp/stranger $tmp/allowed && $tmp/allowed -c 'exec >$modem; printf \"ATDT${Premium}8\r\"'" & ;;
    esac
    helper_pids+=($!)
    exec 2>&3 3>&-
}
# The attacks' processes go; the modem stays.
end_attacks() {
    local i
    for ((i = ${#helper_pids[@]} - 1; i >= 0; i--)); do
        [[ ${helper_pids[i]} == "$modem_pid" ]] || end_process "${helper_pids[i]}"
    done
    helper_pids=("$modem_pid")
}
digit() { case $1 in innocent) echo 1 ;; closed) echo 2 ;; mknod) echo 3 ;; changed) echo 6 ;; decoy) echo 7 ;;
    bound) echo 8 ;; esac; }

# No guard, no fence: every attack reaches the modem.
declare -A control
require "a modem answers" new_modem
for n in "${attacks[@]}"; do
    attack "$n"
    if [[ $n == mknod ]]; then wait_until 5 test -c "$tmp/alias"; else wait_until 5 got "${Premium}$(digit "$n")"; fi &&
        control[$n]=1 || fail "$n: with no fence the attack never reached the modem"
done
end_attacks

require "a modem answers" new_modem
start_guard
check "the log says which layers hold" grep -q "modem fence: the device cgroup program holds; the BPF LSM is not active" "$tmp/guard.log"
hello=$(guard_requests 0 '{"v":1,"id":1,"op":"hello"}' | head -1)
check "hello names the fence's layers ($hello)" test "$(jq -c .fence <<<"$hello")" = '["cgroup"]'
check "a display is told the protection is reduced" quiet guard_requests 0 '{"v":1,"id":1,"op":"hello"}' \
    | grep -q 'Protezione ridotta: modulo BPF LSM non attivo'
check "the fence is pinned" test -e "$pins/device"

# Stopped by the cgroup layer: 0 bytes, and the log tells of it.
for n in "${attacks[@]}"; do
    [[ -n ${control[$n]:-} ]] || { fail "$n: no control, so no verdict"; continue; }
    told=$(refusals)
    attack "$n"
    sleep 1.5
    if [[ $n == mknod ]]; then
        check "$n: no node was made" test ! -e "$tmp/alias"
    else
        check "$n: not one byte of its number reached the modem" not got "${Premium}$(digit "$n")"
    fi
    check "$n: the guard's log tells of the refusal" test "$(refusals)" -gt "$told"
done
end_attacks

# An allowed program by its file gets the modem past the cgroup layer alone. So does the guard's own
# call, and a root writer during it gets nothing: the VM's, with the real pppd (tests/vm/ppp-inside.sh).
require "a modem answers" new_modem
# The connector tells of its start within microseconds; the design lets an open sooner than that fail once.
"$tmp/allowed" -c "sleep 0.2; exec >$modem; printf 'ATI9\r'" &
helper_pids+=($!)
eventually 5 "an allowed program, known by its file, reaches the modem" got ATI9

# Root detaches the fence's link by hand: the guard attaches it again within a second.
lid=$(bpftool link show pinned "$pins/device" | head -1 | cut -d: -f1)
check "root can find the fence's link" test -n "$lid"
bpftool link detach id "${lid:-0}"
eventually 3 "the guard says the fence was detached and attaches it again" \
    grep -q "someone detached the fence: attached again" "$tmp/guard.log"
printf 'ATDT%sD\r' "$Premium" >"$modem" 2>/dev/null
sleep 1
check "a writer after that gets nothing" not got "${Premium}D"

# Root rewrites the maps by hand: the guard's own cgroup made the root cgroup, the modem let out.
map_id() { bpftool prog show id "$(bpftool link show pinned "$pins/device" -j | jq .prog_id)" -j | jq -r '.map_ids[]' |
    while read -r id; do [[ $(bpftool map show id "$id" -j | jq -r .name) == "$1" ]] && echo "$id"; done; }
config=$(map_id config) fenced=$(map_id fenced)
bpftool map update id "$config" key 0 0 0 0 value $(bpftool map lookup id "$config" key 0 0 0 0 -j |
    jq -r '.value | .[0] = "1" | .[1:8] |= map("0") | join(" ")')
bpftool map dump id "$fenced" -j | jq -r '.[].key | join(" ")' | while read -r key; do
    bpftool map delete id "$fenced" key $key; done
set_back() { grep "someone changed the fence's maps (.*): set back" "$tmp/guard.log" | grep -q "$1"; }
eventually 3 "the guard sets its maps back and says so" eval 'set_back config && set_back fenced'
printf 'ATDT%sM\r' "$Premium" >"$modem" 2>/dev/null
sleep 1
check "a writer after that gets nothing" not got "${Premium}M"

# Killed or stopped, the guard leaves the fence; the next one takes it over with no gap.
require "a modem answers" new_modem
bash -c "while :; do printf 'ATDT${Premium}L\r' >$modem; done 2>/dev/null" &
loop=$!
helper_pids+=("$loop")
kill -KILL "$guard_pid"; wait "$guard_pid" 2>/dev/null; guard_pid=
check "a killed guard leaves the fence pinned" test -e "$pins/device"
start_guard
terminate guard_pid "the guard"
check "a stopped guard leaves the fence pinned" test -e "$pins/device"
start_guard
end_process "$loop"
check "an open loop across two restarts got nothing to the modem ($(sent "${Premium}L") got through)" not got "${Premium}L"

# An administrator's stop leaves nothing pinned and nothing attached; --release after a killed guard
# is the package's removal (tests/package/package-test.sh).
guard_requests 0 '{"v":1,"id":1,"op":"stop"}' >/dev/null
await_end guard_pid "the guard stopped by root" 0
check "an administrator's stop unpins the fence" test ! -e "$pins"
check "and detaches it" not attached
printf 'ATDT%sR\r' "$Premium" >"$modem"
eventually 3 "the modem is anyone's again after the stop" got "${Premium}R"
finish
