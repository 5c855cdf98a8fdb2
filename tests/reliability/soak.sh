#!/usr/bin/env bash
# soak.sh BUILD [CALLS] [SEED]: one norvale-guard takes CALLS (1000) of another program's calls in a
# random mix: unauthorised ones it must hang up before they connect, authorised ones the line drops
# or ends with an error at a random stage, drops and errors on the idle line between. Its memory must
# stay flat and nv4.ini unchanged.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
e2e_start "$1" bare
calls=${2:-1000}
seed=${3:-$((EPOCHSECONDS % 32768))}
RANDOM=$seed
echo "soak: $calls calls, seed $seed (again: $0 $1 $calls $seed)"

warmup=100
authorised=("Provider" "Office")
unauthorised=("Provider Backup" "Premium 899" "Dialer 144")
errors=(676 678 679 680 691 692 633 20000)

printf 'stage_ms=2\n' >"$conf/dialer.conf"
# The first start writes a row per entry; two are authorised as the setup would.
start_guard
terminate guard_pid "the guard"
for name in "${authorised[@]}"; do
    row=$(grep -aoE "^ConName[0-9]+=$(encode "$name")"$'\r$' "$state/nv4.ini" | head -n 1)
    row=${row#ConName}
    sed -i "s/^ConAuth${row%%=*}=false\r\$/ConAuth${row%%=*}=true\r/" "$state/nv4.ini"
done
require "two rows authorised" test "$(grep -c $'^ConAuth[0-9]*=true\r$' "$state/nv4.ini")" = 2
cp "$state/nv4.ini" "$tmp/before.ini"

placed=0 checked=0 rss_warm='' rss_max=0

# A busy line (the last call still ending) is tried again.
dial() {
    local tries status
    for ((tries = 0; tries < 200; tries++)); do
        line call "$@" >/dev/null 2>&1
        status=$?
        ((status == 0)) && placed=$((placed + 1)) && return 0
        ((status == 3)) || return "$status"
        sleep 0.005
    done
    return 3
}

# The calls since the last check: unauthorised ones hung up before connecting, the others never.
check_calls() {
    local fresh=$((placed - checked)) entry outcome state
    ((fresh > 0)) || return 0
    wait_until 1 line_is idle
    while IFS=$'\t' read -r entry outcome state; do
        checked=$((checked + 1))
        if [[ " ${authorised[*]} " == *" $entry "* ]]; then
            [[ $outcome == dropped || $outcome == error ]]
        else
            [[ $outcome == hung-up ]] && ((state < 8192))
        fi || fail "call $checked: $entry ended $outcome in state $state"
    done < <(line status | jq -r --argjson n "$fresh" '.calls[-$n:][] | [.entry, .outcome, .last_state] | @tsv')
    ((checked == placed)) || fail "the line reports $checked of $placed calls"
    checked=$placed
}

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$guard_pid/status"; }

start_guard
# The line's record of its last 1000 calls grows until full: filled first, so that the memory
# figures show only the guard's own.
for ((i = 0; i < 1000 && failures == 0; i++)); do
    dial "${unauthorised[i % ${#unauthorised[@]}]}" || fail "the line refused a call"
done
check_calls
placed=0 checked=0

start_ms=$(now_ms)
while ((placed < calls && failures == 0)); do
    alive "$guard_pid" || { fail "the guard died after $placed calls"; break; }
    r=$((RANDOM % 100))
    if ((r < 45)); then
        dial "${unauthorised[RANDOM % ${#unauthorised[@]}]}"
    else
        dial "${authorised[RANDOM % ${#authorised[@]}]}" || fail "the line refused a call"
        ((RANDOM % 4)) && sleep "0.00$((RANDOM % 9))"
        if ((r < 75)); then
            quiet line drop
        else
            quiet line error "${errors[RANDOM % ${#errors[@]}]}"
        fi
        if ((r % 10 == 0)); then
            quiet line drop && fail "a drop on the idle line was accepted"
        elif ((r % 10 == 1)); then
            quiet line error "${errors[RANDOM % ${#errors[@]}]}" || fail "an error on the idle line was refused"
        fi
    fi
    if ((placed % 100 == 0 && placed > checked)); then
        check_calls
        rss=$(rss)
        ((rss > rss_max)) && rss_max=$rss
        ((placed == warmup)) && rss_warm=$rss
    fi
done
check_calls
rss_end=$(rss)
terminate guard_pid "the guard"
check "nv4.ini is unchanged" cmp -s "$tmp/before.ini" "$state/nv4.ini"
echo "soak: $placed calls in $(($(now_ms) - start_ms)) ms"
check "resident memory $rss_warm KB after $warmup calls, $rss_end KB at the end (highest $rss_max KB), grows by 512 KB at most" \
    test -n "$rss_warm" -a -n "$rss_end" -a "$((rss_end - rss_warm))" -le 512
finish
