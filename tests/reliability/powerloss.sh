#!/usr/bin/env bash
# powerloss.sh BUILD [KILLS] [SEED]
# norvale-guard is killed with SIGKILL, as a power loss stops it, at a random moment of its shut-down
# after SIGTERM, in which it saves its settings, until KILLS kills (300 unless given) have hit a
# running guard, with the moments fixed by SEED.
# Each time nv4.ini must be, byte for byte, either the file as it was or the file as the save
# writes it, nothing may be left in the folder that was not there, and the next start must work
# from what was left.
source "$(dirname "$0")/lib.sh" "$1"
nv_need_root
kills=${2:-300}
seed=${3:-$((EPOCHSECONDS % 32768))}
RANDOM=$seed
echo "powerloss: $kills kills, seed $seed (again: $0 $1 $kills $seed)"

nv_folder || exit 1
nv_conf stage_ms=1
ini=$NV_DIR/nv4.ini
old=$NV_TMP/old.ini
new=$NV_TMP/new.ini
# The guard's own file, edited by hand as a save will not leave it: a colour written with a blank
# and a leading zero, an authorisation written "True" with blanks around the "=". The save
# rewrites both lines.
nv_start
nv_wait_up >/dev/null || fail "the first start did not come up"
nv_stop_checked "first start"
sed -e 's/^StartColor= 255\r$/StartColor= 0255\r/' -e 's/^ConAuth1=false\r$/ConAuth1 = True\r/' "$ini" >"$old"
sed -e 's/^ConAuth1=false\r$/ConAuth1=true\r/' "$ini" >"$new"
[[ $(diff "$ini" "$old" | grep -c '^>') == 2 ]] || fail "the hand edits did not apply to $(cat -A "$ini")"
((nv_failures == 0)) || nv_finish

restore() {
    chattr -i "$ini" 2>/dev/null
    cp "$old" "$ini"
}

# Start from the old file; the shut-down, timed from SIGTERM to the end of the process, is the
# window in which the kills fall. Its length varies with the machine's load: the median of five.
took_us=()
for ((i = 0; i < 5; i++)); do
    restore
    nv_start
    nv_wait_up locked >/dev/null || fail "calibration: the guard did not come up"
    t0=$EPOCHREALTIME
    kill -TERM "$NV_PID"
    while nv_alive; do nv_pause 0.0002; done
    took_us+=("$(awk -v s="$(nv_seconds_since "$t0")" 'BEGIN { printf "%d", s * 1e6 }')")
    nv_stop_checked "calibration"
    cmp -s "$new" "$ini" || fail "calibration: the save did not write the expected file"
done
median_us=$(printf '%s\n' "${took_us[@]}" | sort -n | sed -n 3p)
echo "powerloss: calibration: the shut-down took ${took_us[*]} us from SIGTERM to the end of the process"
# A little beyond it, so that some kills come after the end.
window_us=$((median_us * 11 / 10))
echo "powerloss: kills fall from 0 to $window_us us after SIGTERM at first"
((nv_failures == 0)) || nv_finish

declare -A landed=()
start=$EPOCHREALTIME
killed=0
for ((round = 1; killed < kills && round <= 3 * kills && nv_failures == 0; round++)); do
    # What a kill left is the next start's file, unless the save had already replaced it.
    cmp -s "$old" "$ini" || restore
    nv_start
    if ! nv_wait_up locked >/dev/null; then
        fail "round $round: the guard did not start from what the last kill left"
        break
    fi
    us=$(nv_random "$window_us")
    printf -v delay '%d.%06d' $((us / 1000000)) $((us % 1000000))
    kill -TERM "$NV_PID"
    nv_pause "$delay"
    kill -KILL "$NV_PID" 2>/dev/null
    wait "$NV_PID" 2>/dev/null
    status=$?
    NV_PID=

    if cmp -s "$old" "$ini"; then
        content=old
    elif cmp -s "$new" "$ini"; then
        content=new
    else
        cp "$ini" "$NV_TMP/round$round.ini" 2>/dev/null
        fail "round $round (kill after $delay s): nv4.ini is neither the old nor the new file ($(stat -c %s "$ini" 2>/dev/null) bytes)"
        od -c "$ini" 2>/dev/null | head -n 5 >&2
        continue
    fi
    # A kill between writing the new file and renaming it over nv4.ini leaves the save's temporary
    # file (nv4.ini.XXXXXX) behind. They are counted and left there: the next start must not mind.
    for stray in $(nv_strays); do
        [[ $stray == nv4.ini.?????? ]] || fail "round $round (kill after $delay s): left in the folder: $stray"
    done
    cmp -s "$NV_DIR/phonebook.sample.conf" "$NV_DIR/phonebook.conf" || fail "round $round: the phonebook changed"
    # The settings file is unlocked for the save and locked again after it, until the end.
    # The window follows the machine's pace: shorter after a kill that came too late, a little
    # longer after one that came in time.
    if ((status == 0)); then
        window_us=$((window_us * 9 / 10 > 500 ? window_us * 9 / 10 : 500))
    else
        window_us=$((window_us * 21 / 20))
        killed=$((killed + 1))
    fi
    if ((status == 0)); then
        class="ended before the kill"
    elif [[ $content == old ]]; then
        nv_immutable "$ini" && class="killed before the save" || class="killed during the save"
    else
        nv_immutable "$ini" && class="killed after the save, file locked" || class="killed after the save, file unlocked"
    fi
    landed[$class]=$((${landed[$class]:-0} + 1))
done
duration=$(nv_seconds_since "$start")

# The last kill's leftovers start and save cleanly.
nv_start
nv_wait_up locked >/dev/null || fail "the guard did not start after the last kill"
nv_stop_checked "after the last kill"
cmp -s "$new" "$ini" || fail "the last save did not write the expected file"

played=$((round - 1))
echo "powerloss: $played rounds in $duration s; at the end kills fell from 0 to $window_us us after SIGTERM"
for class in "${!landed[@]}"; do printf '  %-40s %4d\n' "$class" "${landed[$class]}"; done | sort
((killed >= kills)) || fail "only $killed of $played kills hit a running guard"
echo "powerloss: $killed kills landed in the shut-down, ${landed["killed during the save"]:-0} of them between unlocking nv4.ini and replacing it"
echo "powerloss: $(nv_strays | grep -c '^nv4\.ini\.') kills left the save's temporary file behind"
nv_finish
