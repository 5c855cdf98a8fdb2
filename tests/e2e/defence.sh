#!/usr/bin/env bash
# defence.sh BUILD: another program's calls on the built-in line against the installed guard, with
# hostile clients of guard.sock; the display (nobody) killed through X, then its X server, and a new
# one shown the call that is up. The phonebook and nv4.ini stay closed until SIGTERM gives them back.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_start "$1"

printf 'stage_ms=100\ndown_bps=20000\nup_bps=4000\n' >"$conf/dialer.conf"
# "Provider Backup" gets another number while the guard is not running.
sed 's/^Phone = 0245871299$/Phone = 0899123456/' "$share/phonebook.sample.conf" >"$state/phonebook.conf"
chmod 640 "$state/phonebook.conf"
cp -p "$state/phonebook.conf" "$tmp/phonebook.before"
{
    printf '%s[Connections]\r\n' "$IniBanner"
    connection_row 0 "Provider" "0245871200" true false 6 8 40
    connection_row 1 "Provider Backup" "0245871299" true false 0 10 14
    connection_row 2 "Office" "0,065551234" false false 0 10 14
} >"$state/nv4.ini"
chmod 644 "$state/nv4.ini"

# nobody's display, its strip back from the tray, where what it shows of each call can be seen.
display_shown() {
    start_accessibility "$Nobody"
    start_display "$Nobody" "${a11y_env[@]}"
    require "the strip shows" wait_until 10 strip_shown
    require "the strip hides into the tray" wait_until 10 strip_hidden
    require "the strip comes back from the tray" restore_strip
    xdotool mousemove 900 700
}
start_guard
display_shown

for entry in "Nowhere" "Office" "Provider Backup"; do
    hung_up "$entry" && eventually 3 "$entry: the strip shows its status area" place_is "$strip" "7 1 509 48"
done
hung_up Provider 0899123456

# Hostile clients at once (uid 65533 is no user of the machine), and 100 connections of nobody,
# whose display holds one of its 8: a call placed meanwhile is hung up as promptly as ever (200 ms).
# unread_by PID: the Recv-Q of its connection, what the guard sent it that it did not read.
unread_by() { ss -xpn 2>/dev/null | awk -v pid="pid=$1," '$1 == "u_str" && index($0, pid) { print $3; exit }'; }
bad_lines=('this is no JSON' '[1, 2]' '{"v": 99, "id": 1, "op": "hello"}' '{"v": 1, "id": 2, "op": 7}'
    '{"v": 1, "id": 3, "op": "format_disk"}' '{"v":1,"id":9,"op":"counters"}')
hello='{"v":1,"id":0,"op":"hello"}'
printf '%s\n' "${bad_lines[@]}" | client 65533 "$tmp/bad.out" -t 5 &
head -c 71680 /dev/zero | tr '\0' x | client 65533 "$tmp/long.out" -lf /dev/null &
{ echo "$hello"; seq -f '{"v":1,"id":%g,"op":"counters"}' 12000; } | client 65533 /dev/null -u -lf /dev/null &
held 65533 "$tmp/half.out" '{"v": 1, "id": 1, "op": "coun'
half_pid=$held_pid
held 65533 /dev/null "$hello"$'\n' -u
mute_pid=$held_pid
flood=()
for ((i = 0; i < 100; i++)); do
    held "$Nobody" "$tmp/flood.$i" ''
    flood+=("$held_pid")
done
require "the hostile clients are connected and nobody's surplus refused" \
    wait_until 15 eval '(($(cat "$tmp"/flood.* | grep -c "\"error\":\"busy\"") == 93))'
if hung_up Office; then
    after=$(field hung_up_after_ms)
    check "Office: hung up after $after ms, under 500 ms" awk -v ms="$after" 'BEGIN { exit !(ms ~ /^[0-9.]+$/ && ms < 500) }'
fi
check "each bad line gets its refusal, and the connection is still served" test \
    "$(jq -r '.error // .ok' "$tmp/bad.out" | paste -sd ' ')" = "bad_request bad_request version bad_request unknown_op true"
check "the line over 64 KiB ends its connection unanswered" test ! -s "$tmp/long.out"
check "the guard says why" grep -q "request line is longer than 64 KiB" "$tmp/guard.log"
check "half a line is left unanswered, its connection open" eval "test ! -s '$tmp/half.out' && alive $half_pid"
check "the client that does not read the events was sent them and kept: $(unread_by "$mute_pid") bytes" \
    eval "alive $mute_pid && (($(unread_by "$mute_pid") > 0))"
check "the guard drops the client that asks for answers it does not read" \
    grep -q "it does not read what the guard sends" "$tmp/guard.log"
held=0
for pid in "${flood[@]}"; do alive "$pid" && held=$((held + 1)); done
check "7 of nobody's 100 connections are held, the display holding an 8th" test "$held" = 7
check "the guard still runs" alive "$guard_pid"
check "the display still runs" alive "$display_pid"

# The status area closes 6 s after it opened; the next call's stages open it again.
eventually 10 "the status area closes again" place_is "$strip" "7 1 509 33"

check "Provider: the call is placed" quiet line call Provider
require "Provider: the call connects" await_call connected
check "Provider: placed by another program, the line up" eval '[[ $(field placed_by) == other ]] && line_is connected'
require "the status area shows the connection" wait_until 3 place_is "$strip" "7 1 509 48"

for name in phonebook.conf nv4.ini; do
    file=$state/$name
    check "$name: cat fails" not quiet cat "$file"
    check "$name: echo >> fails" not quiet eval "echo dialer >>'$file'"
    check "$name: mv fails" not quiet mv "$file" "$file.moved"
    check "$name: rm fails" not quiet rm -f "$file"
    check "$name: still there" test -f "$file"
done
# Root's rm fails only on an immutable file; the phonebook is marked read-only as well.
check "phonebook.conf: no write bits while held" mode_is "$state/phonebook.conf" 440
check "norvale-line rewrite is refused with status 3" exits_with 3 /dev/null line rewrite Provider 0899000000
check "the call is still up" line_is connected

check "the line drops" quiet line drop
xkill -id "$strip" >/dev/null 2>&1
await_end display_pid "the display, killed through X," 1
check "the guard goes on after xkill" alive "$guard_pid"
stop_desktop
check "the guard goes on after its X server ended" alive "$guard_pid"
hung_up Office
for name in phonebook.conf nv4.ini; do
    check "$name: still held without a display" not readable "$state/$name"
done
check "Provider: the call is placed without a display" quiet line call Provider
require "Provider: the call connects without a display" await_call connected

# The accessibility bus ended with the X server it announced itself on, as at a logout.
start_desktop
display_shown
eventually 3 "the status area shows the connection" place_is "$strip" "7 1 509 48"

# The rate and total captions move while connected; each bar speaks the rate its caption shows.
captions() { read_tree && awk -F'\t' '$1 == "label" && $6 ~ /^(92|188|280|364),20$/ { print $2 }' <<<"$tree" | paste -sd '|'; }
rate_spoken() { [[ $(node_field "progress bar" "Livello ${1}load" 3) == "${1^}load $(node_field label "@$2" 2)/s, "+([0-9])" %" ]]; }
first_captions=$(captions)
eventually 6 "the rate and total captions change while connected from $first_captions" \
    eval '[[ $(captions) =~ ^[^|]+\|[^|]+\|[^|]+\|[^|]+$ && $(captions) != "$first_captions" ]]'
eventually 3 "each bar speaks the rate its caption shows" eval 'read_tree; rate_spoken up 92,20 && rate_spoken down 188,20'
check "the status line shows the connection, not the hung-up stage" eval '[[ $(node_field "status bar" "" 2) == "Connesso con Provider"* ]]'

terminate guard_pid "the guard"
ini=$state/nv4.ini
check "nv4.ini starts with its banner" cmp -s -n 25 "$ini" <(printf %s "$IniBanner")
check "nv4.ini holds [General Setup]" file_has "$ini" $'\r\n[General Setup]\r\n'
check "nv4.ini's [Connections]: Provider stays authorised, Office unauthorised, Provider Backup lost it with its number" \
    file_has "$ini" $'\r\n[Connections]\r\n'"$(connection_row 0 Provider 0245871200 true false 6 8 40
        connection_row 1 "Provider Backup" 0245871299 false false 0 10 14
        connection_row 2 Office 0,065551234 false false 0 10 14)"
check "the phonebook is as it was" cmp -s "$state/phonebook.conf" "$tmp/phonebook.before"
while read -r name mode; do
    check "$name: readable again" readable "$state/$name"
    check "$name: writable again" eval "(: >>'$state/$name') 2>/dev/null"
    check "$name: no immutable flag" not immutable "$state/$name"
    check "$name: mode $mode again" mode_is "$state/$name" "$mode"
done <<<$'phonebook.conf 640\nnv4.ini 644'
terminate display_pid "the display"
finish
