#!/usr/bin/env bash
# powerloss.sh BUILD [KILLS] [SEED]: norvale-guard killed at a random moment of its saving shut-down
# until KILLS kills (300) hit a running guard. nv4.ini must be byte for byte the old file or the
# saved one, nothing new left in the folder, and the next start must work from what was left.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
e2e_start "$1" bare
need_root
kills=${2:-300}
seed=${3:-$((EPOCHSECONDS % 32768))}
RANDOM=$seed
echo "powerloss: $kills kills, seed $seed (again: $0 $1 $kills $seed)"

ini=$state/nv4.ini
old=$tmp/old.ini
new=$tmp/new.ini
# Two hand edits the save rewrites: a colour with a leading zero, an authorisation " = True".
start_guard
terminate guard_pid "the guard"
sed -e 's/^StartColor= 255\r$/StartColor= 0255\r/' -e 's/^ConAuth1=false\r$/ConAuth1 = True\r/' "$ini" >"$old"
sed -e 's/^ConAuth1=false\r$/ConAuth1=true\r/' "$ini" >"$new"
require "the hand edits apply to $(cat -A "$ini")" test "$(diff "$ini" "$old" | grep -c '^>')" = 2

# A read that times out sleeps without starting a process.
mkfifo "$tmp/pause" && exec {pause_fd}<>"$tmp/pause"

# The kills fall within a window after SIGTERM that follows the machine's pace: it settles where
# about a third of the guards end before the kill.
window_us=20000
start_ms=$(now_ms)
killed=0 during=0
for ((round = 1; killed < kills && round <= 3 * kills && failures == 0; round++)); do
    if ! cmp -s "$old" "$ini"; then
        chattr -i "$ini" 2>/dev/null
        cp "$old" "$ini"
    fi
    start_guard
    us=$(((((RANDOM << 15) | RANDOM) % window_us)))
    printf -v delay '%d.%06d' $((us / 1000000)) $((us % 1000000))
    kill -TERM "$guard_pid"
    read -r -t "$delay" -u "$pause_fd"
    kill -KILL "$guard_pid" 2>/dev/null
    wait "$guard_pid" 2>/dev/null
    status=$?
    guard_pid=
    if ! cmp -s "$old" "$ini" && ! cmp -s "$new" "$ini"; then
        fail "round $round (kill after $delay s): nv4.ini is neither the old nor the new file ($(stat -c %s "$ini" 2>/dev/null) bytes)"
        od -c "$ini" 2>/dev/null | head -n 5 >&2
        continue
    fi
    # A kill before the rename leaves the save's nv4.ini.XXXXXX, which the next start must not mind.
    for stray in $(find "$state" -mindepth 1 -maxdepth 1 -printf '%f\n' |
        grep -vxE 'norvale-(guard|line)|phonebook(\.sample)?\.conf|nv4\.ini(\.......)?|dialer\.conf|(guard|line)\.sock|private|[0-9a-f]+-[0-9a-f]+'); do
        fail "round $round (kill after $delay s): left in the folder: $stray"
    done
    check "round $round: the phonebook is unchanged" cmp -s "$share/phonebook.sample.conf" "$state/phonebook.conf"
    if ((status == 0)); then
        window_us=$((window_us * 9 / 10 > 500 ? window_us * 9 / 10 : 500))
    else
        window_us=$((window_us * 21 / 20))
        killed=$((killed + 1))
        cmp -s "$old" "$ini" && not immutable "$ini" && during=$((during + 1))
    fi
done

start_guard
terminate guard_pid "the guard"
check "the last save writes the expected file" cmp -s "$new" "$ini"
check "$killed of $((round - 1)) kills hit a running guard, $kills wanted" test "$killed" -ge "$kills"
echo "powerloss: $((round - 1)) rounds in $(($(now_ms) - start_ms)) ms, the window at last $window_us us, $during kills between unlocking nv4.ini and replacing it"
finish
