#!/usr/bin/env bash
# tray-setup.sh BUILD: an administrator's installed display handled with the mouse and the keyboard:
# the tray menu, the setup dialog and the exit button, which stops the guard once polkit agrees. Then
# nobody, whose exit button and requests straight to guard.sock are refused.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
need_root
# The administrator (a user in group sudo) exists only in this private mount namespace, in copies of
# /etc/passwd and /etc/group bind-mounted over the real ones.
[[ ${NORVALE_E2E_NAMESPACE:-} == 1 ]] || NORVALE_E2E_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
e2e_start "$1"
admin_uid=4242 admin_name=norvale-e2e
while getent passwd "$admin_uid" >/dev/null || getent group "$admin_uid" >/dev/null; do
    admin_uid=$((admin_uid + 1))
done
require "$admin_name is no user of the machine" not quiet getent passwd "$admin_name"
install -m 644 /etc/passwd /etc/group "$tmp/"
echo "$admin_name:x:$admin_uid:$admin_uid:Norvale test:/nonexistent:/usr/sbin/nologin" >>"$tmp/passwd"
echo "$admin_name:x:$admin_uid:" >>"$tmp/group"
require "the machine has a group sudo" grep -q '^sudo:' "$tmp/group"
sed -i -E "s/^(sudo:[^:]*:[^:]*:)(.+)$/\1\2,$admin_name/; s/^(sudo:[^:]*:[^:]*:)$/\1$admin_name/" "$tmp/group"
mount --bind "$tmp/passwd" /etc/passwd && mount --bind "$tmp/group" /etc/group
require "$admin_name ($admin_uid) is in group sudo here" eval "id -nG $admin_uid | grep -qw sudo"

# No polkitd here: a stand-in pkcheck writes down each call and its pid, waits pkcheck.delay seconds
# (never: until it is ended) and answers pkcheck.answer (0 granted).
mkdir -p "$tmp/bin"
cat >"$tmp/bin/pkcheck" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>'$tmp/pkcheck.calls'
printf '%s\n' "\${DBUS_SYSTEM_BUS_ADDRESS-the system's}" >>'$tmp/pkcheck.buses'
echo \$\$ >'$tmp/pkcheck.pid'
[ "\$(cat '$tmp/pkcheck.delay')" = never ] && exec sleep 600
sleep "\$(cat '$tmp/pkcheck.delay')"
exit "\$(cat '$tmp/pkcheck.answer')"
EOF
chmod 755 "$tmp/bin/pkcheck"
: >"$tmp/pkcheck.calls"
echo 0 >"$tmp/pkcheck.answer"
echo 0 >"$tmp/pkcheck.delay"

SetupButton=(456 12) MinimiseButton=(476 12) ExitButton=(496 12) OkButton=(76 348)
Authorise="Autorizza questa connessione" Default="Imposta come predefinita"
ProviderRow=0 # the phonebook's [Dialer Defaults] is no entry
Away="Il servizio di protezione di Norvale non è attivo."
# Keys from the tray menu's top ("Norvale", then past the separator).
Disconnetti=(Down Down Return) ConnettiAPredefinita=(Down Down Down Return)

# click_node ROLE NAME: a click into that node of the setup dialog in the last tree read.
click_node() {
    local x y
    IFS=, read -r x y <<<"$(node_field "$1" "$2" 6)"
    click $((dialog_x + x + 5)) $((dialog_y + y + 5))
}

# ticked NAME...: "yes" or "no" for each of the setup's check boxes of that name, as a screen reader finds them.
ticked() {
    local name
    read_tree
    for name in "$@"; do
        awk -F'\t' -v name="$name" '$1 == "check box" && $2 == name { print $5 ~ /checked/ ? "yes" : "no"; exit }' <<<"$tree"
    done | paste -sd ' '
}

# Opens the setup dialog from the strip's button and selects Provider in its list with the mouse.
open_setup_on_provider() {
    require "the strip comes back from the tray" restore_strip
    click_strip "${SetupButton[@]}"
    require "the setup dialog shows" wait_until 10 shown_window setup '^ Setup$'
    require "the setup dialog settles" await_settled place "$setup"
    read -r dialog_x dialog_y _ <<<"$place"
    require "a screen reader finds Provider in the list" \
        wait_until 5 eval 'read_tree; [[ -n $(node_field "list item" Provider 6) ]]'
    check "no entry is selected when the dialog opens" not grep -qE $'^list item\t([^\t]*\t){3}[^\t]*selected' <<<"$tree"
    click_node "list item" Provider
    eventually 3 "Provider is selected, and the Numero box reads its number" eval 'read_tree;
        [[ $(node_field "list item" Provider 5) == *selected* && $(node_field text Numero 4) == 0245871200 ]]'
    check "the rate boxes are spoken by their captions, the start colour's square by its colour" \
        eval 'spoken text UP && spoken text DW && spoken filler Inizio "rosso 255, verde 0, blu 0"'
}

# A refusal box: titled "Norvale" like the message strip, but not of its size.
refusal_shown() { shown_window box '^Norvale$' not strip_sized; }
strip_sized() { [[ $(geometry "$1") == *" 473 47 "* ]]; }

# Buttons of the box from its bottom-right corner: OK and No are the last, Sì the one before.
click_box() {
    local x y w h
    require "the box settles" await_settled place "$box"
    read -r x y w h <<<"$place"
    case $1 in
    Sì) click $((x + w - 138)) $((y + h - 23)) ;;
    No | OK) click $((x + w - 52)) $((y + h - 23)) ;;
    esac
}

answer() {
    click_strip "${ExitButton[@]}"
    require "the exit button asks" wait_until 10 shown_window box '^ Uscire$'
    click_box "$1"
}

close_setup_with_ok() {
    click $((dialog_x + OkButton[0])) $((dialog_y + OkButton[1]))
    require "OK closes the setup dialog" wait_until 5 unmapped "$setup"
    click_strip "${MinimiseButton[@]}"
    require "the strip goes into the tray with its button" wait_until 5 strip_hidden
}

# The tray menu: the one window of the program larger than an icon while the strip is in the tray.
# Painted (mostly light), it has taken the keyboard as well: Qt grabs it before it paints.
menu_shown() {
    local id x y w h
    for id in $(xdotool search --onlyvisible --class norvale 2>/dev/null); do
        read -r x y w h _ < <(geometry "$id")
        ((w > 60 && h > 60)) || continue
        import -silent -window root "$tmp/menu.png"
        [[ $(convert "$tmp/menu.png[${w}x$h+$x+$y]" -grayscale Average -threshold 78.4% \
            -format '%[fx:mean > 0.5]' info:) == 1 ]] && return 0
    done
    return 1
}

tray_menu() {
    await_icon || return 1
    click "$icon_x" "$icon_y" 3
    wait_until 5 menu_shown || return 1
    xdotool key --delay 100 "$@"
}

printf 'stage_ms=100\n' >"$conf/dialer.conf"
# An older version stored wvdial's defaults as an authorised default row: it goes, the rows move up.
{ printf '%s[Connections]\r\n' "$IniBanner"; connection_row 0 Defaults "" true true 0 10 14; } >"$state/nv4.ini"
start_accessibility "$admin_uid"
# The guard started carelessly (su keeps the user's environment): the desktop's DISPLAY and session
# bus, and nobody's system bus and pkcheck first on PATH, both of which would grant everything.
mkdir "$tmp/userbin"
printf '#!/bin/sh\ntouch %q\n' "$tmp/userbin.ran" >"$tmp/userbin/pkcheck"
chmod 755 "$tmp/userbin/pkcheck"
chown -R "$Nobody" "$tmp/userbin"
guard_args=(--auth-timeout 12)
admin_guard() {
    start_guard env PATH="$tmp/userbin:$tmp/bin:$PATH" DBUS_SESSION_BUS_ADDRESS="$bus" \
        DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/userbin/bus"
}
admin_guard
start_display "$admin_uid" "${a11y_env[@]}"
require "the strip shows" wait_until 10 strip_shown
# Its pid and start time (field 22 of its stat line).
admin_display="$display_pid,$(sed 's/.*) //' "/proc/$display_pid/stat" | cut -d' ' -f20)"
require "the strip hides into the tray" wait_until 10 strip_hidden

open_setup_on_provider
check "Provider is neither the default nor authorised yet: $(ticked "$Default" "$Authorise")" \
    test "$(ticked "$Default" "$Authorise")" = "no no"
check_guard_apart "Xvfb $xserver_pid" "dbus-daemon [0-9]+"
click_node "check box" "$Default"
eventually 3 "a click ticks Imposta come predefinita" eval '[[ $(ticked "$Default") == yes ]]'
close_setup_with_ok
require "the tray menu opens" tray_menu "${ConnettiAPredefinita[@]}"
eventually 5 "an unauthorised default gives a message strip of 473 x 47 in the screen's middle" \
    eval 'shown_window info "^Norvale$" && place_is "$info" "404 488 473 47"'
check "a screen reader reads the message strip as an alert" eval 'read_tree; spoken alert "La connessione predefinita non è stata autorizzata..."'
check "no call on an unauthorised default" test "$(line status | jq '.calls | length')" = 0

open_setup_on_provider
check "Provider shows as the default, not authorised: $(ticked "$Default" "$Authorise")" \
    test "$(ticked "$Default" "$Authorise")" = "yes no"
click_node "check box" "$Authorise"
eventually 3 "a click ticks Autorizza questa connessione" eval '[[ $(ticked "$Authorise") == yes ]]'
close_setup_with_ok
require "the tray menu opens" tray_menu "${ConnettiAPredefinita[@]}"
require "the default connection is dialled" await_call connected hung-up
check "the default connection, Norvale's own call, connects on Provider's number: $call" \
    test "$(jq -r '"\(.outcome) \(.entry) \(.placed_by) \(.number)"' <<<"$call")" = "connected Provider norvale 0245871200"
check "the phonebook is held again after the dial" not readable "$state/phonebook.conf"

# The setup waits 8 s for polkit: meanwhile the traffic is shown every cycle and Disconnetti hangs up.
echo 8 >"$tmp/pkcheck.delay"
require "the strip comes back from the tray" restore_strip
click_strip "${SetupButton[@]}"
check "the traffic labels change 16 times (four cycles) while polkit is asked" \
    eval 'atspi await-name label 6 16 >/dev/null 2>>"$tmp/atspi.log" && alive "$(cat "$tmp/pkcheck.pid")"'
click_strip "${MinimiseButton[@]}"
require "the tray menu opens" tray_menu "${Disconnetti[@]}"
require "the call ends" await_call hung-up dropped
check "Disconnetti hangs up, before polkit answers" eval 'test "$(field outcome)" = hung-up && alive "$(cat "$tmp/pkcheck.pid")"'
check "the line is idle" line_is idle
check "the phonebook is held again after the hang-up" not readable "$state/phonebook.conf"
require "the setup dialog shows once polkit agrees" wait_until 15 shown_window setup '^ Setup$'
close_setup_with_ok

# The guard stalls 3 s during a call: the first rate afterwards is the line's, not the stall's bytes.
require "the tray menu opens" tray_menu "${ConnettiAPredefinita[@]}"
require "the default connection is dialled again" await_call connected
sleep 1
kill -STOP "$guard_pid"
sleep 0.6 # an answer on its way lands
atspi await-name label 10 4 >"$tmp/rates.out" 2>>"$tmp/atspi.log" &
wait_until 5 grep -q '^listening$' "$tmp/rates.out"
sleep 2.4
kill -CONT "$guard_pid"
wait $!
rate=$(grep -v '^listening$' "$tmp/rates.out" | sed -n '4s/ KB$//p')
check "the first download rate after the stall is within Provider's 14 KB/s: $rate" awk -v r="$rate" 'BEGIN { exit !(r != "" && r + 0 <= 14) }'

# The guard stopped under the call: no DISCONNESSIONE, the traffic at zero, and the reason. S, the line
# items and a drag all work without it, and the place is the guard's once it is back.
away_told() { shown_window info '^Norvale$' strip_sized && read_tree && spoken alert "$Away"; }
echo never >"$tmp/pkcheck.delay" # a question left open goes with the guard
held "$admin_uid" /dev/null '{"v":1,"id":1,"op":"setup_open"}'$'\n'
require "pkcheck is asked" wait_until 5 eval '(($(wc -l <"$tmp/pkcheck.calls") == 4))'
terminate guard_pid "the guard"
check "its pkcheck ended with the guard" not alive "$(cat "$tmp/pkcheck.pid")"
require "the strip comes back from the tray" restore_strip
eventually 5 "the status line says the guard is away, the rates are zero" eval 'read_tree && spoken "status bar" "$Away" &&
    test "$(node_field label @92,20 2) $(node_field label @188,20 2)" = "0.00 KB 0.00 KB"'
require "three seconds later a box says so too" wait_until 10 shown_window box '^ Errore$'
click_box OK
click_strip "${SetupButton[@]}"
eventually 5 "S says the guard is away" away_told
read -r x y _ < <(geometry "$strip")
xdotool mousemove $((x + 20)) $((y + 12)) mousedown 1 mousemove $((x + 60)) $((y + 40)) mousemove $((x + 120)) $((y + 62)) mouseup 1
require "the strip settles" await_settled place "$strip"
read -r x y _ <<<"$place"
click_strip "${MinimiseButton[@]}"
for item in ConnettiAPredefinita Disconnetti; do
    wait_until 6 not away_told
    keys="$item[@]"
    require "the tray menu opens" tray_menu "${!keys}"
    eventually 5 "$item says the guard is away" away_told
done
wait_until 6 not away_told # a closing strip is no refusal
admin_guard

# polkit gives no answer: refused at the guard's limit of 12 s, and pkcheck is ended.
require "the strip comes back from the tray" restore_strip
require "the display is back with the guard: the call ended meanwhile" \
    wait_until 5 eval 'read_tree && spoken "status bar" Disconnected.'
asked=$(now_ms)
click_strip "${SetupButton[@]}"
require "the display says polkit did not answer in time" wait_until 20 refusal_shown
check "refused at the limit: $(($(now_ms) - asked)) ms" test $(($(now_ms) - asked)) -ge 11000
check "that pkcheck was ended by SIGTERM" wait_until 3 not alive "$(cat "$tmp/pkcheck.pid")"
check "a screen reader reads the reason" eval 'read_tree && spoken label "Autenticazione non disponibile: tempo scaduto"'
check "the guard says why" grep -q "polkit gave no answer in time" "$tmp/guard.log"
click_box OK
# A client that half-closes, then goes while its question waits, takes its pkcheck with it.
{ echo '{"v":1,"id":1,"op":"setup_open"}'; sleep 1; } | client "$admin_uid" /dev/null -t 0.3 &
require "pkcheck is asked for it" wait_until 5 eval '(($(wc -l <"$tmp/pkcheck.calls") == 6))'
check "its pkcheck ends with it" wait_until 4 not alive "$(cat "$tmp/pkcheck.pid")"
echo 0 >"$tmp/pkcheck.delay"
click_strip "${MinimiseButton[@]}"
require "the strip goes into the tray with its button" wait_until 5 strip_hidden

start_display "$admin_uid" DBUS_SESSION_BUS_ADDRESS="$bus" DISPLAY="unix$DISPLAY.0" # the same display, spelt otherwise
second_display=$display_pid display_pid=${admin_display%,*}
require "a second start brings the strip back from the tray" wait_until 10 strip_shown
await_end second_display "the second start" 0

# The exit button asks; "Sì" asks the guard to stop, which asks polkit about the display's process.
answer No
eventually 5 "No closes the question" unmapped "$box"
check "No keeps the display running and the line watched" eval 'alive $display_pid && quiet line status'
echo 1 >"$tmp/pkcheck.answer"
answer Sì
require "the display says the stop was refused" wait_until 10 refusal_shown
read_tree
check "a screen reader reads the refusal" \
    spoken label "Non puoi chiudere Norvale. Questa azione è permessa solo ad un utente amministratore."
click_box OK
eventually 5 "OK closes the refusal" unmapped "$box"
check "a refused stop keeps the guard and the display running" eval 'alive $guard_pid && alive $display_pid'
echo 0 >"$tmp/pkcheck.answer"
answer Sì
expected="--action-id org.norvale.guard.admin --process $admin_display,$admin_uid --allow-user-interaction"
await_end display_pid "the display, told that the guard stopped," 0
await_end guard_pid "the guard, stopped by an administrator," 0
check "pkcheck is asked about the display's process at each setup and each stop: $(cat "$tmp/pkcheck.calls")" \
    test "$(grep -cxF -- "$expected" "$tmp/pkcheck.calls"):$(wc -l <"$tmp/pkcheck.calls")" = 6:8
check "the pkcheck in nobody's folder on PATH never ran" test ! -e "$tmp/userbin.ran"
check "pkcheck always asks the system's own bus" test "$(sort -u "$tmp/pkcheck.buses")" = "the system's"
check "the guard says it left nobody's folder out of PATH" grep -q "userbin left out of PATH" "$tmp/guard.log"

ini=$state/nv4.ini
check "nv4.ini keeps Provider authorised and default, byte for byte" \
    file_has "$ini" $'\r\n'"$(connection_row "$ProviderRow" Provider 0245871200 true true 0 10 14)"
check "the place dragged to while the guard was away is kept: $x,$y" file_has "$ini" "TopWin= $((y * 15))"$'\r\n'"LeftWin= $((x * 15))"
check "three rows, one authorised entry, one default entry" \
    test "$(grep -c '^ConName' "$ini"):$(grep -c $'^ConAuth[0-9]*=true\r$' "$ini"):$(grep -c $'^ConPred[0-9]*=true\r$' "$ini")" = 3:1:1
cp "$ini" "$tmp/nv4.before"

# nobody's display, started before the guard, says after 3 s that the guard is away.
start_display "$Nobody"
require "the strip shows" wait_until 10 strip_shown
require "the display says the guard is away" wait_until 10 shown_window away '^ Errore$'
start_guard env PATH="$tmp/bin:$PATH"
eventually 3 "the message goes once the guard is back" unmapped "$away"
require "the strip hides into the tray" wait_until 10 strip_hidden
require "the strip comes back from the tray" restore_strip
click_strip "${ExitButton[@]}"
require "the exit button refuses with a message" wait_until 10 refusal_shown
check "the display keeps running" alive "$display_pid"
check "nv4.ini is held as before" not readable "$ini"

before=$(stat -c '%i %s %.9Y %.9Z' "$ini")
# Field 0 of a row is the authorisation, 3 the number.
answers=$(guard_requests "$Nobody" '{"v":1,"id":1,"op":"setup_open"}' \
    '{"v":1,"id":2,"op":"setup_field","name":"Provider","field":0,"value":false}' \
    '{"v":1,"id":3,"op":"setup_field","name":"Office","field":3,"value":"0899123456"}' \
    '{"v":1,"id":4,"op":"setup_save"}' '{"v":1,"id":5,"op":"stop"}' '{"v":1,"id":6,"op":"stop","uid":0}' \
    '{"v":1,"id":7,"op":"hang_up"}' | jq -r '"\(.id) \(if .ok == false then .error else "ok" end)"' | paste -sd ' ')
check "nobody's requests are each refused: $answers" \
    test "$answers" = "1 refused 2 no_setup 3 no_setup 4 no_setup 5 refused 6 refused 7 refused"
check "the guard still runs" alive "$guard_pid"
check "nv4.ini was not touched meanwhile" test "$(stat -c '%i %s %.9Y %.9Z' "$ini")" = "$before"
check "pkcheck is never asked about nobody" test "$(wc -l <"$tmp/pkcheck.calls")" = 8
terminate display_pid "the display"
terminate guard_pid "the guard"
check "nv4.ini is byte for byte what it was before nobody's requests" cmp "$tmp/nv4.before" "$ini"
check "nobody's refusals of a kind make a line a second, the others counted at the stop" eval 'grep -q "refused the setup to uid $Nobody" "$tmp/guard.log" &&
    ! grep -q "refused the stop to uid $Nobody" "$tmp/guard.log" && grep -q "2 more lines of uid $Nobody left out: refused: no administrator" "$tmp/guard.log"'
finish
