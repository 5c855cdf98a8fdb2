#!/usr/bin/env bash
# first-run.sh BUILD: the installed guard's and display's (nobody's) first start in an empty folder.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/lib.sh"
e2e_start "$1"

check "the display refuses to run as root" exits_with 1 "$tmp/root-display.log" "$bin/norvale"
check "the display says why it refuses root" grep -q "not started as root" "$tmp/root-display.log"

# Root would write and chmod where the folder's owner says.
chown "$Nobody" "$state"
check "the guard refuses a state folder of nobody's" exits_with 1 "$tmp/refused.log" "$sbin/norvale-guard"
chown root "$state"
check "the guard says why" grep -q "the state folder may be changed by root only" "$tmp/refused.log"
check "the refused guard left nothing in it" test ! -e "$state/nv4.ini" -a ! -e "$run/guard.sock"

start_guard
check "nv4.ini is written" test -e "$state/nv4.ini"
wav=$(home_of "$Nobody")/start.wav
start_accessibility "$Nobody"
start_display "$Nobody" "${a11y_env[@]}" NORVALE_AUDIO_SINK="audioconvert ! wavenc ! filesink location=$wav"
require "the strip shows" wait_until 10 strip_shown
# 100 and 10 twips from the screen's corner, 7635 x 495 twips.
check "the strip lies at 7,1 and is 509 x 33: $(geometry "$strip")" place_is "$strip" "7 1 509 33"
check "the strip stays on top" eval "xprop -id $strip _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE"
check "no tray icon while the strip shows" icon_count_is 0

require "the strip hides into the tray" wait_until 10 strip_hidden
eventually 3 "one icon shows in the tray" icon_count_is 1
check "the display still runs" alive "$display_pid"

# wavenc fills in the RIFF size (file size less 8) at the end of the stream.
wav_complete() {
    local size riff
    size=$(stat -c %s "$wav" 2>/dev/null) || return 1
    riff=$(od -An -tu4 -j4 -N4 "$wav" | tr -d ' ')
    ((size > 44 && riff == size - 8))
}
check "the start sound is played to its end into the capture file" wait_until 10 wav_complete
read -r seconds rms < <(sox "$wav" -n stat 2>&1 | awk '/^Length \(seconds\)/ { s = $3 } /^RMS +amplitude/ { r = $3 } END { print s + 0, r + 0 }')
check "the start sound lasts 1.2 s: $seconds" awk "BEGIN { exit !($seconds > 1.15 && $seconds < 1.25) }"
check "the start sound is audible (RMS $rms)" awk "BEGIN { exit !($rms > 0.05) }"

# A call hung up while the strip is in the tray grows the hidden window; the strip once came back
# at the screen's corner after that.
atspi await-name "status bar" 10 >"$tmp/name-change.out" 2>>"$tmp/atspi.log" &
listener_pid=$!
check "a screen reader listens" wait_until 5 grep -q '^listening$' "$tmp/name-change.out"
hung_up Provider
require "the strip comes back from the tray" restore_strip
require "the strip settles" await_settled back "$strip"
check "the strip comes back at 7,1: $back" test "${back% * *}" = "7 1"
check "the strip shows its status area: $back" test "${back#* * }" = "509 48"
check "the call's first status text is heard as a name change of the status bar" wait "$listener_pid"
check "a screen reader finds the buttons Impostazioni, Nascondi and Esci" \
    eval 'read_tree && spoken "push button" Impostazioni && spoken "push button" Nascondi && spoken "push button" Esci'

# A kill saves nothing: its bytes as they were while the guard ran.
kill_guard
check "nv4.ini holds only its banner while the guard runs" cmp -s "$state/nv4.ini" <(printf %s "$IniBanner")
check "the phonebook of the built-in line is the sample" cmp -s "$state/phonebook.conf" "$share/phonebook.sample.conf"
terminate display_pid "the display"
finish
