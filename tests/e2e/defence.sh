#!/usr/bin/env bash
# defence.sh BUILD: calls placed by another program on the built-in line against the installed
# program: an entry the phonebook lacks, an unauthorised entry, an authorised entry whose number
# changed while the program was stopped, and an authorised entry, which connects and shows its
# traffic. Meanwhile the phonebook and nv4.ini are closed to other programs; SIGTERM saves the
# settings and gives both files back.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_start "$1"

printf 'stage_ms=100\ndown_bps=20000\nup_bps=4000\n' >"$dir/dialer.conf"
# "Provider Backup" gets another number while the program is not running.
sed 's/^Phone = 0245871299$/Phone = 0899123456/' "$dir/phonebook.sample.conf" >"$dir/phonebook.conf"
chmod 640 "$dir/phonebook.conf"
cp -p "$dir/phonebook.conf" "$tmp/phonebook.before"
require "the test's phonebook differs from the sample" not cmp -s "$dir/phonebook.conf" "$dir/phonebook.sample.conf"
{
    printf '%s[Connections]\r\n' "$IniBanner"
    connection_row 0 "Provider" "0245871200" true false 6 8 40
    connection_row 1 "Provider Backup" "0245871299" true false 0 10 14
    connection_row 2 "Office" "0,065551234" false false 0 10 14
} >"$dir/nv4.ini"
chmod 644 "$dir/nv4.ini"

start_norvale
require "the strip shows" wait_until 10 strip_shown
require "the strip hides into the tray" wait_until 10 strip_hidden
# Back on the screen, so that what the strip shows of each call can be seen.
require "the strip comes back from the tray" restore_strip
require "the line's control socket is there" wait_until 10 test -S "$dir/line.sock"
mouse_away

# Each call of another program on an entry it may not use is hung up when it connects the device
# (state 2); the status area opens and shows the stage it was hung up at.
status_shots=()
for entry in "Nowhere" "Office" "Provider Backup"; do
    check "$entry: the call is placed" quiet line dial "$entry"
    if ! await_call hung-up connected; then
        fail "$entry: the call did not end"
        continue
    fi
    check "$entry: hung up ($call)" test "$(field outcome)" = hung-up
    check "$entry: at the device stage" test "$(field last_state)" = 2
    check "$entry: placed by another program" test "$(field placed_by)" = other
    check "$entry: the line is idle" line_is idle
    eventually 3 "$entry: the strip shows its status area" place_is "$strip" "7 1 509 48"
    shot "$tmp/$entry.png"
    status_shots+=("$tmp/$entry.png")
done
strip_place
status_part=$(at "$StatusLine")
keep_shot "${status_shots[0]}" "${strip_w}x$strip_h+$strip_x+$strip_y" hung-up-strip-4x.png 400
check "the status line shows a text" test "$(count_pixels "${status_shots[0]}" "$status_part" 'r + g + b < 200')" -gt 20
check "the three hung-up calls leave the same status text" test \
    "$(changed_pixels "${status_shots[0]}" "${status_shots[1]}" "$status_part")$(changed_pixels "${status_shots[0]}" "${status_shots[2]}" "$status_part")" = 00

# The status area closes 6 s after it opened; the next call's stages open it again.
eventually 10 "the status area closes again" place_is "$strip" "7 1 509 33"

# The authorised entry connects and stays connected.
check "Provider: the call is placed" quiet line dial Provider
require "Provider: the call connects" await_call connected
check "Provider: placed by another program" test "$(field placed_by)" = other
check "Provider: the line is up" line_is connected
connected_ms=$(now_ms)
require "the status area shows the connection" wait_until 3 place_is "$strip" "7 1 509 48"

# Rates, totals, level bars and graphs move: each part changes between the first picture and one
# of the pictures taken a second apart after it.
strip_place
declare -A moved=([BarUp]="" [BarDown]="" [GraphUp]="" [GraphDown]="" [Rates]="" [Totals]="")
shot "$tmp/connected-0.png"
all_moved() {
    local part
    for part in "${!moved[@]}"; do
        [[ -n ${moved[$part]} ]] || return 1
    done
}
for ((n = 1; n <= 6; n++)); do
    sleep 1
    shot "$tmp/connected-$n.png"
    for part in "${!moved[@]}"; do
        (($(changed_pixels "$tmp/connected-0.png" "$tmp/connected-$n.png" "$(at "${!part}")") > 0)) && moved[$part]=yes
    done
    all_moved && break
done
for part in "${!moved[@]}"; do
    check "$part changes while connected" test -n "${moved[$part]}"
done
last=$tmp/connected-$((n > 6 ? 6 : n)).png
check "the status line shows the connection, not the hung-up stage" \
    test "$(changed_pixels "${status_shots[0]}" "$tmp/connected-0.png" "$status_part")" -gt 0
keep_shot "$last" "${strip_w}x$strip_h+$strip_x+$strip_y" connected-strip-4x.png 400
echo "traffic watched for $(($(now_ms) - connected_ms)) ms, $((n > 6 ? 6 : n)) pictures after the first"

# Other programs can neither read, change, replace nor remove the two files.
for file in "$dir/phonebook.conf" "$dir/nv4.ini"; do
    name=${file##*/}
    check "$name: cat fails" not quiet cat "$file"
    check "$name: echo >> fails" not quiet eval "echo dialer >>'$file'"
    check "$name: mv fails" not quiet mv "$file" "$file.moved"
    check "$name: rm fails" not quiet rm -f "$file"
    check "$name: still there" test -f "$file"
done
# Root's rm fails only on an immutable file; the phonebook is marked read-only as well.
check "phonebook.conf: no write bits while held" mode_is "$dir/phonebook.conf" 440
line rewrite Provider 0899000000 >/dev/null 2>&1
check "norvale-line rewrite is refused with status 3" test $? = 3
check "the call is still up" line_is connected

terminate_norvale
ini=$dir/nv4.ini
check "nv4.ini starts with its banner" cmp -s -n 25 "$ini" <(printf %s "$IniBanner")
check "nv4.ini holds [General Setup]" file_has "$ini" $'\r\n[General Setup]\r\n'
check "nv4.ini holds [Connections]" file_has "$ini" $'\r\n[Connections]\r\n'
check "Provider stays authorised" file_has "$ini" "$(connection_row 0 Provider 0245871200 true false 6 8 40)"
check "Provider Backup lost its authorisation with its number" \
    file_has "$ini" "$(connection_row 1 "Provider Backup" 0245871299 false false 0 10 14)"
check "Office stays unauthorised" file_has "$ini" "$(connection_row 2 Office 0,065551234 false false 0 10 14)"
check "the phonebook is as it was" cmp -s "$dir/phonebook.conf" "$tmp/phonebook.before"
for file in "$dir/phonebook.conf" "$dir/nv4.ini"; do
    name=${file##*/}
    check "$name: readable again" readable "$file"
    check "$name: writable again" appendable "$file"
    check "$name: no immutable flag" not immutable "$file"
done
check "phonebook.conf: mode 640 again" mode_is "$dir/phonebook.conf" 640
check "nv4.ini: mode 644 again" mode_is "$dir/nv4.ini" 644
e2e_finish
