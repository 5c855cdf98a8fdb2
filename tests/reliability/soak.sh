#!/usr/bin/env bash
# soak.sh BUILD [CALLS] [SEED]
# One running norvale-guard on its built-in line takes CALLS calls (1000 unless given) placed by
# another program, in a random mix fixed by SEED: calls on unauthorised entries, which it must hang
# up before they connect, and calls on authorised ones that the line drops or ends with a modem
# error at a random stage; drops and errors on the idle line in between. (The guard dials only when
# a display asks: no call of its own here.) It must live through all of it with flat memory and
# leave nv4.ini as it found it.
source "$(dirname "$0")/lib.sh" "$1"
calls=${2:-1000}
seed=${3:-$((EPOCHSECONDS % 32768))}
RANDOM=$seed
echo "soak: $calls calls, seed $seed (again: $0 $1 $calls $seed)"

warmup=100
max_growth_kb=512
authorised=("Provider" "Office")
unauthorised=("Provider Backup" "Premium 899" "Dialer 144")
errors=(676 678 679 680 691 692 633 20000)

nv_folder || exit 1
nv_conf stage_ms=2
# The first start writes one row per phonebook entry; the user authorises two of them.
nv_start
nv_wait_up >/dev/null || fail "the first start did not come up"
nv_stop_checked "first start"
nv_authorise "$NV_DIR/nv4.ini" "${authorised[@]}" || fail "nv4.ini lacks the rows of ${authorised[*]}"
[[ $(grep -c $'^ConAuth[0-9]*=true\r$' "$NV_DIR/nv4.ini") == 2 ]] || fail "not two rows authorised"
cp "$NV_DIR/nv4.ini" "$NV_TMP/before.ini"
((nv_failures == 0)) || nv_finish

declare -A kinds=()
placed=0 checked=0 hung_up=0 connected=0 refused=0 rss_warm= rss_max=0
count() { kinds[$1]=$((${kinds[$1]:-0} + 1)); }

# Another program dials; a busy line (the last call still ending) is tried again.
dial() {
    local tries status
    for ((tries = 0; tries < 200; tries++)); do
        nv_line dial "$@" >/dev/null 2>&1
        status=$?
        ((status == 0)) && placed=$((placed + 1)) && return 0
        ((status == 3)) || return "$status"
        refused=$((refused + 1))
        sleep 0.005
    done
    return 3
}

# The calls placed since the last check: unauthorised ones hung up before connecting,
# authorised ones never hung up, none still going.
check_calls() {
    local fresh=$((placed - checked)) entry outcome state bad=0
    ((fresh > 0)) || return 0
    while IFS=$'\t' read -r entry outcome state; do
        if [[ " ${authorised[*]} " == *" $entry "* ]]; then
            [[ $outcome == dropped || $outcome == error ]] || bad=1
            ((state == 8193)) && connected=$((connected + 1))
        else
            [[ $outcome == hung-up ]] && ((state < 8192)) || bad=1
            [[ $outcome == hung-up ]] && hung_up=$((hung_up + 1))
        fi
        ((bad)) && fail "call $((checked + 1)): $entry ended $outcome in state $state" && bad=0
        checked=$((checked + 1))
    done < <(nv_status | jq -r --argjson n "$fresh" '.calls[-$n:][] | [.entry, .outcome, .last_state] | @tsv')
    ((checked == placed)) || fail "the line reports $((checked)) of $placed calls"
    checked=$placed
}

settle() {
    local i
    for ((i = 0; i < 100; i++)); do
        [[ $(nv_status | jq -r .line) == idle ]] && return
        sleep 0.01
    done
}

nv_start
nv_wait_up >/dev/null || fail "the guard did not come up"
# The line keeps a record of its last 1000 calls for its status report, which grows until full:
# fill it first, so that the memory figures show only what the guard itself keeps.
for ((i = 0; i < 1000 && nv_failures == 0; i++)); do
    dial "${unauthorised[i % ${#unauthorised[@]}]}" || fail "the line refused a call"
done
check_calls
echo "soak: the line's record filled with $placed unauthorised calls, $hung_up hung up"
placed=0 checked=0 hung_up=0 connected=0 refused=0

start=$EPOCHREALTIME
while ((placed < calls && nv_failures == 0)); do
    nv_alive || {
        fail "the guard died after $placed calls"
        break
    }
    r=$((RANDOM % 100))
    if ((r < 45)); then
        dial "${unauthorised[RANDOM % ${#unauthorised[@]}]}" && count unauthorised
    else
        dial "${authorised[RANDOM % ${#authorised[@]}]}" || fail "the line refused a call"
        # The end comes at a random stage: at once, or after up to 8 stage times.
        ((RANDOM % 4)) && sleep "0.00$((RANDOM % 9))"
        if ((r < 75)); then
            nv_line drop >/dev/null && count authorised-dropped
        else
            nv_line error "${errors[RANDOM % ${#errors[@]}]}" >/dev/null && count authorised-error
        fi
        # Now the line is idle.
        if ((r % 10 == 0)); then
            nv_line drop >/dev/null 2>&1 && fail "a drop on the idle line was accepted"
            count idle-drop
        elif ((r % 10 == 1)); then
            nv_line error "${errors[RANDOM % ${#errors[@]}]}" >/dev/null || fail "an error on the idle line was refused"
            count idle-error
        fi
    fi
    if ((placed % 100 == 0 && placed > checked)); then
        settle
        check_calls
        rss=$(nv_rss)
        ((rss > rss_max)) && rss_max=$rss
        ((placed == warmup)) && rss_warm=$rss
    fi
done
duration=$(nv_seconds_since "$start")
nv_alive || fail "the guard is not running after $placed calls"
settle
check_calls
rss_end=$(nv_rss)

nv_stop_checked "after the soak"
cmp -s "$NV_TMP/before.ini" "$NV_DIR/nv4.ini" ||
    fail "nv4.ini changed: $(diff <(tr -d '\r' <"$NV_TMP/before.ini") <(tr -d '\r' <"$NV_DIR/nv4.ini"))"

for kind in "${!kinds[@]}"; do printf '  %-20s %5d\n' "$kind" "${kinds[$kind]}"; done | sort
echo "soak: $placed calls in $duration s: $hung_up unauthorised ones hung up, $connected authorised ones connected before their end; $refused dials retried on a busy line"
echo "soak: resident memory $rss_warm KB after $warmup calls, $rss_end KB at the end (highest $rss_max KB)"
if [[ -n $rss_warm && -n $rss_end ]]; then
    growth=$((rss_end - rss_warm))
    echo "soak: growth after warm-up $growth KB (limit $max_growth_kb KB)"
    ((growth <= max_growth_kb)) || fail "resident memory grew by $growth KB after warm-up"
elif ((placed >= calls)); then
    fail "no memory figures"
fi
nv_finish
