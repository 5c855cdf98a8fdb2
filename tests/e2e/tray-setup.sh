#!/usr/bin/env bash
# tray-setup.sh BUILD: the installed program handled with the mouse and the keyboard only: the tray
# menu's "Connetti a predefinita" with no default, with an unauthorised and with an authorised
# default, "Disconnetti", the setup dialog that authorises the entry and makes it the default, and
# the exit button with its confirmation, and its refusal when pkexec started the program for a user
# who is no administrator.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_start "$1"

# The setup dialog's controls from the top-left corner of its client area.
EntryList=257x65+10+78
AuthoriseBox=(18 202)
DefaultBox=(18 222)
OkButton=(76 348)
ProviderRow=1 # the first entry is the phonebook's own [Dialer Defaults]
# Keys from the tray menu's top: "Norvale", past the separator "Disconnetti", "Connetti a predefinita".
Disconnetti=(Down Down Return)
ConnettiAPredefinita=(Down Down Down Return)

# The message strip of the program, with the title "Norvale".
info_shown() { shown_window info '^Norvale$'; }

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
}

# Answers the exit question with one of its two buttons, placed from the box's bottom-right corner.
answer() {
    local x y w h
    require "the exit button asks" await_window box '^ Uscire$'
    require "the question settles" await_settled place "$box"
    read -r x y w h <<<"$place"
    case $1 in
    Sì) click $((x + w - 138)) $((y + h - 23)) ;;
    No) click $((x + w - 52)) $((y + h - 23)) ;;
    esac
}

close_setup_with_ok() {
    click_dialog "${OkButton[@]}"
    require "OK closes the setup dialog" wait_until 5 unmapped "$setup"
    click_strip "${MinimiseButton[@]}"
    require "the strip goes into the tray with its button" wait_until 5 strip_hidden
}

printf 'stage_ms=100\n' >"$dir/dialer.conf"
start_bell_log
start_norvale
require "the strip shows" wait_until 10 strip_shown
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
click_dialog "${DefaultBox[@]}"
eventually 3 "a click ticks Imposta come predefinita" ticked "${DefaultBox[@]}"
close_setup_with_ok
require "the tray menu opens" tray_menu "${ConnettiAPredefinita[@]}"
eventually 5 "an unauthorised default gives a message" info_shown
check "the message strip is 473 x 47 in the screen's middle: $(geometry "$info")" place_is "$info" "404 488 473 47"
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

# The exit button asks; "No" keeps the program, "Sì" ends it.
step "the exit button"
require "the strip comes back from the tray" restore_strip
click_strip "${ExitButton[@]}"
answer No
eventually 5 "No closes the question" unmapped "$box"
check "No keeps the program running" alive "$norvale_pid"
check "No keeps the line watched" quiet line status
click_strip "${ExitButton[@]}"
answer Sì
await_exit

ini=$dir/nv4.ini
check "nv4.ini keeps Provider authorised and default, byte for byte" \
    file_has "$ini" $'\r\n'"$(connection_row "$ProviderRow" Provider 0245871200 true true 0 10 14)"
check "one authorised entry" test "$(grep -c $'^ConAuth[0-9]*=true\r$' "$ini")" = 1
check "one default entry" test "$(grep -c $'^ConPred[0-9]*=true\r$' "$ini")" = 1
for file in "$dir/phonebook.conf" "$ini"; do
    check "${file##*/}: writable after the exit" appendable "$file"
    check "${file##*/}: no immutable flag after the exit" not immutable "$file"
done

# Started by pkexec for a user who is no administrator (nobody): root holds the files, the user may
# not close the program.
step "started for a user who is no administrator"
start_norvale PKEXEC_UID=65534
require "the strip shows" wait_until 10 strip_shown
require "the strip hides into the tray" wait_until 10 strip_hidden
require "the strip comes back from the tray" restore_strip
click_strip "${ExitButton[@]}"
require "the exit button refuses with a message" await_window box '^Norvale$'
check "the program keeps running" alive "$norvale_pid"
check "nv4.ini is held as root holds it" not readable "$ini"
terminate_norvale
e2e_finish
