#!/usr/bin/env bash
# tray-setup.sh BUILD: the installed display of an administrator handled with the mouse and the
# keyboard only: the tray menu's "Connetti a predefinita" with no default, with an unauthorised and
# with an authorised default, "Disconnetti", the setup dialog that authorises the entry and makes it
# the default, and the exit button with its question, which stops the guard once polkit agrees. Then
# a user who is no administrator (nobody): the exit button refuses, and requests written straight to
# guard.sock change nothing.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
enter_admin_namespace "$@"
e2e_start "$1"
add_admin_user
make_pkcheck

# The setup dialog's controls from the top-left corner of its client area.
EntryList=257x65+10+78
AuthoriseBox=(18 202)
DefaultBox=(18 222)
OkButton=(76 348)
ProviderRow=1 # the first entry is the phonebook's own [Dialer Defaults]
# Keys from the tray menu's top: "Norvale", past the separator "Disconnetti", "Connetti a predefinita".
Disconnetti=(Down Down Return)
ConnettiAPredefinita=(Down Down Down Return)

# The message strip of the program and its message boxes both have the title "Norvale".
info_shown() { shown_window info '^Norvale$' && place_is "$info" "404 488 473 47"; }

# The rows of the list's selection bar, "TOP BOTTOM", from a picture of the list.
selection_band() {
    convert "$1[$2]" -depth 8 txt:- | awk -F'[()]' '
        NR > 1 { split($1, p, "[,:]"); split($2, c, ",");
                 x = p[1] + 0; y = p[2] + 0; if (x + 1 > w) w = x + 1;
                 if (c[3] + 0 > c[1] + 60 && c[3] + 0 > 120) lit[y]++ }
        END { for (y in lit) if (lit[y] > w / 2) { y += 0; if (top == "" || y < top) top = y; if (y > bottom) bottom = y }
              if (top != "") print top, bottom }'
}

click_dialog() { click $((dialog_x + $1)) $((dialog_y + $2)); }

# A tick shows as dark pixels in the white box around the point.
ticked() {
    shot "$tmp/box.png"
    (($(count_pixels "$tmp/box.png" "$(moved_by "9x9+$(($1 - 4))+$(($2 - 4))" "$dialog_x" "$dialog_y")" \
        'r * 0.299 + g * 0.587 + b * 0.114 < 100') >= 4))
}

# Sets band to the list's selection bar, if there is one.
band_now() {
    shot "$tmp/list.png"
    band=$(selection_band "$tmp/list.png" "$(moved_by "$EntryList" "$dialog_x" "$dialog_y")")
    [[ -n $band ]]
}

provider_selected() {
    band_now && ((${band% *} >= row_height * ProviderRow && ${band% *} < row_height * (ProviderRow + 1)))
}

# Opens the setup dialog from the strip's button and selects Provider in its list with the mouse.
row_height=
open_setup_on_provider() {
    require "the strip comes back from the tray" restore_strip
    click_strip "${SetupButton[@]}"
    require "the setup dialog shows" await_window setup '^ Setup$'
    require "the setup dialog settles" await_settled place "$setup"
    read -r dialog_x dialog_y dialog_w dialog_h <<<"$place"
    check "the setup dialog is 277 x 371: $place" test "$dialog_w x $dialog_h" = "277 x 371"
    check "no entry is selected when the dialog opens" not band_now
    if [[ -z $row_height ]]; then
        # The first row's bar shows the rows' height.
        click_dialog 60 84
        require "a click selects the first row" wait_until 3 band_now
        read -r top bottom <<<"$band"
        row_height=$((bottom - top + 1))
        require "a row is taller than 8 pixels: $row_height" test "$row_height" -gt 8
    fi
    click_dialog 60 $((78 + row_height * ProviderRow + row_height / 2))
    require "Provider is selected" wait_until 3 provider_selected
    read_tree
    check "the setup dialog's Numero box reads Provider's number" test "$(node_field text Numero 4)" = 0245871200
    check "the rate boxes are spoken by their captions" eval 'spoken text UP && spoken text DW'
}

# A message box that says the user may not do this: titled "Norvale" like the message strip, but
# not of its size.
refusal_shown() {
    local id
    for id in $(xdotool search --name '^Norvale$' 2>/dev/null); do
        mapped "$id" && [[ $(geometry "$id") != *" 473 47 "* ]] && box=$id && return 0
    done
    return 1
}

# Clicks a button of the box, placed from its bottom-right corner: OK and No are the last button,
# Sì the one before.
# keep_shot_of WINDOW NAME: a picture of the window once it holds still.
keep_shot_of() {
    local place x y w h
    await_settled place "$1" || return
    shot "$tmp/window.png"
    read -r x y w h <<<"$place"
    keep_shot "$tmp/window.png" "${w}x$h+$x+$y" "$2"
}

click_box() {
    local x y w h
    require "the box settles" await_settled place "$box"
    read -r x y w h <<<"$place"
    case $1 in
    Sì) click $((x + w - 138)) $((y + h - 23)) ;;
    No | OK) click $((x + w - 52)) $((y + h - 23)) ;;
    esac
}

# Answers the exit question.
answer() {
    require "the exit button asks" await_window box '^ Uscire$'
    click_box "$1"
}

close_setup_with_ok() {
    click_dialog "${OkButton[@]}"
    require "OK closes the setup dialog" wait_until 5 unmapped "$setup"
    click_strip "${MinimiseButton[@]}"
    require "the strip goes into the tray with its button" wait_until 5 strip_hidden
}

printf 'stage_ms=100\n' >"$dir/dialer.conf"
start_bell_log
start_session_bus "$admin_uid"
# The guard started as carelessly as can be: the desktop's DISPLAY and session bus in its environment,
# a system bus of nobody's, whose "polkit" would grant everything, and first on its PATH a folder of
# nobody's with a pkcheck that would grant everything (su keeps the user's environment).
mkdir "$tmp/userbin"
printf '#!/bin/sh\ntouch %q\n' "$tmp/userbin.ran" >"$tmp/userbin/pkcheck"
chmod 755 "$tmp/userbin/pkcheck"
chown -R "$Nobody" "$tmp/userbin"
start_guard PATH="$tmp/userbin:$tmp/bin:$PATH" DBUS_SESSION_BUS_ADDRESS="$bus" \
    DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/userbin/bus"
start_accessibility "$admin_uid"
start_display "$admin_uid" "${a11y_env[@]}"
require "the strip shows" wait_until 10 strip_shown
# Its pid and start time: field 22 of its stat line, the 20th after the name in parentheses.
admin_display="$display_pid,$(sed 's/.*) //' "/proc/$display_pid/stat" | cut -d' ' -f20)"
require "the strip hides into the tray" wait_until 10 strip_hidden

# No default connection: only a beep.
step "Connetti a predefinita without a default"
bells_before=$(bells)
require "the tray menu opens" tray_menu "${ConnettiAPredefinita[@]}"
eventually 5 "Connetti a predefinita beeps without a default" test "$(bells)" = $((bells_before + 1))
check "no call without a default" call_count_is 0
check "no message without a default" not info_shown

# Provider made the default, not authorised: a message, no call.
step "Provider made the default, not authorised"
open_setup_on_provider
check "Provider is not authorised yet" not ticked "${AuthoriseBox[@]}"
check "Provider is not the default yet" not ticked "${DefaultBox[@]}"
# The guard is connected to neither the X server nor the session bus; the same reading sees the
# display connected to both.
check_guard_apart "Xvfb $xserver_pid" "dbus-daemon [0-9]+"
click_dialog "${DefaultBox[@]}"
eventually 3 "a click ticks Imposta come predefinita" ticked "${DefaultBox[@]}"
close_setup_with_ok
require "the tray menu opens" tray_menu "${ConnettiAPredefinita[@]}"
eventually 5 "an unauthorised default gives a message strip of 473 x 47 in the screen's middle" info_shown
read_tree
check "a screen reader reads the message strip as an alert" spoken alert "La connessione predefinita non è stata autorizzata..."
check "no call on an unauthorised default" call_count_is 0
check "no beep on an unauthorised default" test "$(bells)" = $((bells_before + 1))

# Provider authorised: the menu dials it.
step "Provider authorised"
open_setup_on_provider
check "Provider shows as the default" ticked "${DefaultBox[@]}"
check "Provider shows as not authorised" not ticked "${AuthoriseBox[@]}"
click_dialog "${AuthoriseBox[@]}"
eventually 3 "a click ticks Autorizza questa connessione" ticked "${AuthoriseBox[@]}"
mouse_away
shot "$tmp/setup.png"
keep_shot "$tmp/setup.png" "${dialog_w}x$dialog_h+$dialog_x+$dialog_y" setup-dialog.png
close_setup_with_ok
require "the tray menu opens" tray_menu "${ConnettiAPredefinita[@]}"
require "the default connection is dialled" await_call connected hung-up
check "the default connection connects: $call" test "$(field outcome)" = connected
check "the call is on Provider" test "$(field entry)" = Provider
check "the call is Norvale's own" test "$(field placed_by)" = norvale
check "the call dials Provider's number" test "$(field number)" = 0245871200
check "the phonebook is held again after the dial" not readable "$dir/phonebook.conf"

# "Disconnetti" hangs up.
step "Disconnetti"
require "the tray menu opens" tray_menu "${Disconnetti[@]}"
require "the call ends" await_call hung-up dropped
check "Disconnetti hangs up" test "$(field outcome)" = hung-up
check "the line is idle" line_is idle
check "the phonebook is held again after the hang-up" not readable "$dir/phonebook.conf"

# The exit button asks; "No" keeps everything. "Sì" asks the guard to stop, which asks polkit
# about the display's process: refused, the display says so and the guard goes on; granted, the
# guard stops and the display ends with it.
# A second start by the same user on the same display shows the running strip and ends.
step "a second start"
first_display=$display_pid
start_display "$admin_uid" DBUS_SESSION_BUS_ADDRESS="$bus"
second_display=$display_pid
display_pid=$first_display
require "a second start brings the strip back from the tray" wait_until 10 strip_shown
await_end second_display "the second start" 0
check "the running display goes on" alive "$display_pid"

step "the exit button"
click_strip "${ExitButton[@]}"
answer No
eventually 5 "No closes the question" unmapped "$box"
check "No keeps the display running" alive "$display_pid"
check "No keeps the line watched" quiet line status
pkcheck_answers 1
click_strip "${ExitButton[@]}"
answer Sì
require "the display says the stop was refused" wait_until 10 refusal_shown
keep_shot_of "$box" refused-stop.png
click_box OK
eventually 5 "OK closes the refusal" unmapped "$box"
check "a refused stop keeps the guard running" alive "$guard_pid"
check "a refused stop keeps the display running" alive "$display_pid"
pkcheck_answers 0
click_strip "${ExitButton[@]}"
answer Sì
# polkit is asked about the very process that asks: its pid, its start time and its user.
expected="--action-id org.norvale.guard.admin --process $admin_display,$admin_uid --allow-user-interaction"
await_end display_pid "the display, told that the guard stopped," 0
await_end guard_pid "the guard, stopped by an administrator," 0
echo "pkcheck calls:"
cat "$tmp/pkcheck.calls"
check "pkcheck is asked at each setup and each stop" test "$(wc -l <"$tmp/pkcheck.calls")" = 4
check "pkcheck is asked about the display's process each time" \
    test "$(grep -cxF -- "$expected" "$tmp/pkcheck.calls")" = 4
check "the pkcheck in nobody's folder on PATH never ran" test ! -e "$tmp/userbin.ran"
check "pkcheck always asks the system's own bus" test "$(sort -u "$tmp/pkcheck.buses")" = "the system's"
check "the guard says it left nobody's folder out of PATH" grep -q "userbin left out of PATH" "$tmp/guard.log"

ini=$dir/nv4.ini
check "nv4.ini keeps Provider authorised and default, byte for byte" \
    file_has "$ini" $'\r\n'"$(connection_row "$ProviderRow" Provider 0245871200 true true 0 10 14)"
check "one authorised entry" test "$(grep -c $'^ConAuth[0-9]*=true\r$' "$ini")" = 1
check "one default entry" test "$(grep -c $'^ConPred[0-9]*=true\r$' "$ini")" = 1
for file in "$dir/phonebook.conf" "$ini"; do
    check "${file##*/}: writable after the stop" appendable "$file"
    check "${file##*/}: no immutable flag after the stop" not immutable "$file"
done
cp "$ini" "$tmp/nv4.before"

# A user who is no administrator (nobody), whose display starts before the guard: it says the guard
# is away after 3 s and takes that back once the guard is there. Its exit button refuses at once, and
# what a client of that user writes straight to the socket is refused too.
step "a user who is no administrator"
start_display "$Nobody"
require "the strip shows" wait_until 10 strip_shown
require "the display says the guard is away" await_window away '^ Errore$'
away_after=$(($(now_ms) - started_ms))
check "the display says so after $away_after ms, not before 3 s" test "$away_after" -ge 3000
keep_shot_of "$away" guard-away.png
start_guard PATH="$tmp/bin:$PATH"
eventually 3 "the message goes once the guard is back" unmapped "$away"
require "the strip hides into the tray" wait_until 10 strip_hidden
require "the strip comes back from the tray" restore_strip
click_strip "${ExitButton[@]}"
require "the exit button refuses with a message" wait_until 10 refusal_shown
keep_shot_of "$box" refused-exit.png
check "nobody's refusal and the administrator's refused stop show the same box" \
    quiet compare -metric AE "$shots/refused-exit.png" "$shots/refused-stop.png" null:
check "the display keeps running" alive "$display_pid"
check "nv4.ini is held as before" not readable "$ini"

before=$(stat -c '%i %s %.9Y %.9Z' "$ini")
# Each request with the error it must get; field 0 is the authorisation, 3 the number.
requests=(
    '{"v":1,"id":1,"op":"setup_open"}' refused
    '{"v":1,"id":2,"op":"setup_field","name":"Provider","field":0,"value":false}' no_setup
    '{"v":1,"id":3,"op":"setup_field","name":"Office","field":3,"value":"0899123456"}' no_setup
    '{"v":1,"id":4,"op":"setup_save"}' no_setup
    '{"v":1,"id":5,"op":"stop"}' refused
    '{"v":1,"id":6,"op":"stop","uid":0}' refused
    '{"v":1,"id":7,"op":"hang_up"}' refused
)
lines=()
for ((i = 0; i < ${#requests[@]}; i += 2)); do
    lines+=("${requests[i]}")
done
mapfile -t answers < <(guard_requests "$Nobody" "${lines[@]}")
echo "nobody's requests answered: $(printf '%s\n' "${answers[@]}" | jq -r '.error // .ok' | paste -sd ' ')"
for ((i = 0; i < ${#lines[@]}; i++)); do
    got=${answers[i]:-'{"nothing":true}'}
    check "nobody: $(jq -r .op <<<"${lines[i]}") is answered ${requests[2 * i + 1]}: $got" \
        test "$(jq -r 'if .ok == false then .error else "ok" end' <<<"$got")" = "${requests[2 * i + 1]}"
done
check "the guard still runs" alive "$guard_pid"
check "nv4.ini was not touched meanwhile" test "$(stat -c '%i %s %.9Y %.9Z' "$ini")" = "$before"
check "pkcheck is never asked about nobody" test "$(wc -l <"$tmp/pkcheck.calls")" = 4
terminate_display
terminate_guard
check "nv4.ini is byte for byte what it was before nobody's requests" cmp "$tmp/nv4.before" "$ini"
e2e_finish
