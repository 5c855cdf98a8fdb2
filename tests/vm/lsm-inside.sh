#!/usr/bin/env bash
# Runs inside the VM: lsm-inside.sh BUILD both|no-bpf TESTS. See lsm-fence.sh.
# The e2e tests' helpers: fail, check, not, finish.
source "$3/../e2e/lib.sh" || exit 1
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
build=$1 mode=$2 tests=$3
tricks=$tests/fd-tricks.py
tmp=$(mktemp -d /tmp/fence.XXXXXX)
app=$tmp/app modem=$tmp/modem record=$tmp/modem.rec guard=
got() { [[ -f $record ]] && grep -q "$1" "$record" || { [[ -f $record ]] || fail "no record of the modem"; false; }; }
refusals() { grep -c "modem fence: refused" "$tmp/guard.log"; }

mkdir -m 755 "$app" && cp "$build/norvale-guard" "$app/"
cp "$(readlink -f /usr/bin/python3)" "$tmp/allowed-python"
printf '[Dialer Provider]\nModem = %s\nPhone = 0612345678\n' "$modem" >"$app/wvdial.conf"
chmod 600 "$app/wvdial.conf"
printf 'backend=ppp\nphonebook=%s\nallow=%s %s %s\n' "$app/wvdial.conf" "$(command -v socat)" \
    "$build/modem-emulator" "$tmp/allowed-python" >"$app/dialer.conf"
socat "PTY,link=$modem,raw,echo=0" "EXEC:\"$build/modem-emulator --dial silent --record $record\"" 2>/dev/null &
for _ in $(seq 50); do [[ -e $record && -e $modem ]] && break; sleep 0.1; done

start_guard() {
    "$app/norvale-guard" --folder "$app" --run-dir "$tmp/run" >"$tmp/guard.log" 2>&1 &
    guard=$!
    for _ in $(seq 100); do grep -q "^norvale-guard: guarding" "$tmp/guard.log" && return; sleep 0.1; done
    cat "$tmp/guard.log"
    fail "the guard did not start"
    exit 1
}

if [[ $mode == no-bpf ]]; then
    start_guard
    check "without bpf in the LSM list the guard reports the LSM layer absent" \
        grep -q "the device cgroup program holds; the BPF LSM is not active" "$tmp/guard.log"
    kill "$guard"; wait "$guard"
    "$app/norvale-guard" --release --run-dir "$tmp/run"
    finish
    exit
fi

holder=
new_holder() {
    [[ -n $holder ]] && kill "$holder" 2>/dev/null
    "$tmp/allowed-python" "$tricks" hold "$modem" &
    holder=$!
    sleep 1
}
# attack N: each writes its own dial string, ATDT0899<N>. A plain open and a bind mount over an
# allowed program, which the device cgroup layer stops alone, are the host's (tests/e2e/fence.sh).
attack() {
    local text=ATDT0899$1
    case $1 in
    2) python3 "$tricks" receive "$tmp/socket" "$text" &
       sleep 0.5
       "$tmp/allowed-python" "$tricks" send "$modem" "$tmp/socket"
       wait $! ;;
    3) new_holder; python3 "$tricks" copy "$holder" "$text" ;;
    4) "$tmp/allowed-python" "$tricks" ctty "$modem" "$(readlink -f /usr/bin/python3)" "$text" ;;
    5) new_holder; python3 "$tricks" ptrace "$holder" && printf '%s\r' "$text" >"$tmp/ptrace.ok" ;;
    6) new_holder; python3 "$tricks" mem "$holder" && printf '%s\r' "$text" >"$tmp/mem.ok" ;;
    8) bash -c "for g in /sys/fs/cgroup/norvale-guard-*; do echo \$\$ >\$g/cgroup.procs; done; printf '$text\r' >$modem" ;;
    esac
    rm -f "$tmp/socket"
}
reached() {
    case $1 in
    5) [[ -s $tmp/ptrace.ok ]] ;;
    6) [[ -s $tmp/mem.ok ]] ;;
    *) sleep 0.3; got "ATDT0899$1" ;;
    esac
}
names=([2]="a descriptor received over a socket" [3]="a descriptor copied with pidfd_getfd"
    [4]="/dev/tty when the modem is the caller's terminal" [5]="ptrace of an allowed process"
    [6]="the memory of an allowed process" [8]="a join of the guard's cgroup")

declare -A control
for n in 2 3 4 5 6 8; do
    attack "$n" 2>>"$tmp/attacks.log"
    if reached "$n"; then control[$n]=1; else fail "${names[n]}: with no fence it never reached the modem"; fi
done
rm -f "$tmp/ptrace.ok" "$tmp/mem.ok"
: >"$record" # the emulator appends to it
kill "$holder" 2>/dev/null; holder=

start_guard
check "the guard says both layers hold" \
    grep -q "the device cgroup program and the BPF LSM programs hold" "$tmp/guard.log"
for n in 2 3 4 5 6 8; do
    [[ -n ${control[$n]:-} ]] || { fail "${names[n]}: no control, so no verdict"; continue; }
    told=$(refusals)
    attack "$n" 2>>"$tmp/attacks.log"
    sleep 0.3
    check "${names[n]}: stopped (0 bytes)" not reached "$n"
    check "${names[n]}: the log tells of it" test "$(refusals)" -gt "$told"
done
check "nobody attaches to the guard itself" not python3 "$tricks" ptrace "$guard" 2>>"$tmp/attacks.log"
# Root detaches the cgroup layer's link (the LSM links cannot be): attached again, the LSM layer kept.
lid=$(bpftool link show pinned /sys/fs/bpf/norvale-guard-*/device | head -1 | cut -d: -f1)
bpftool link detach id "${lid:-0}"
eventually 3 "the detached link is attached again" grep -q "someone detached the fence: attached again" "$tmp/guard.log"
attack 8 2>>"$tmp/attacks.log"
check "and the LSM layer still refuses a join of the guard's cgroup" not reached 8
kill "$holder" 2>/dev/null
kill "$guard"; wait "$guard"
"$app/norvale-guard" --release --run-dir "$tmp/run"
((failures == 0)) || { echo "--- guard.log"; tail -n 30 "$tmp/guard.log"; echo "--- attacks.log"; tail -n 20 "$tmp/attacks.log"; }
finish
