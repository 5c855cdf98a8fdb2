#!/usr/bin/env bash
# options-test.sh BUILD VERSION: the installed programs' --help, --version and wrong options, with no
# display and nothing started; the guard's --trust-uid, refused with the system's folders and under
# systemd, and honoured in a throw-away guard; the display's signals; norvale-line refused by either
# socket; the guard with a log whose reader has gone.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
e2e_start "$1" no-desktop
version=$2
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

# answers NAME STATUS OUT ERR ARGUMENTS...: exit status and what went to each stream.
answers() {
    local program
    program=$([[ $1 == norvale-guard ]] && echo "$sbin/$1" || echo "$bin/$1")
    [[ -x $program ]] || return 0
    "$program" "${@:5}" >"$tmp/out" 2>"$tmp/err"
    local status=$?
    check "$1 ${*:5}: status $status, not $2" test "$status" = "$2"
    check "$1 ${*:5}: standard output: $(head -c 200 "$tmp/out")" eval "$3"
    check "$1 ${*:5}: standard error: $(head -c 200 "$tmp/err")" eval "$4"
}
for program in norvale norvale-guard norvale-line; do
    answers $program 0 "head -n 1 $tmp/out | grep -q '^usage: $program '" "test ! -s $tmp/err" --help
    answers $program 0 "test \"\$(cat $tmp/out)\" = '$program $version'" "test ! -s $tmp/err" --version
    answers $program 2 "test ! -s $tmp/out" "grep -q '^usage: $program ' $tmp/err" --no-such-option
done
answers norvale-guard 2 "test ! -s $tmp/out" "grep -q '1 to 3600' $tmp/err" --auth-timeout 0
answers norvale-guard 2 "test ! -s $tmp/out" "grep -q '^usage: ' $tmp/err" --trust-uid alice
check "no option made a folder" test ! -e "$state/nv4.ini" -a ! -e "$run"

# A trusted user is an administrator of a throw-away guard alone.
for refused in "--run-dir /run/norvale/" "--folder /var/lib//norvale" "--config-dir /etc/./norvale" \
    "--run-dir /var/run/norvale" "--folder /proc/self/root/var/lib/norvale" "--run-dir $tmp/elsewhere INVOCATION_ID=1"; do
    read -ra words <<<"$refused"
    env "${words[@]:2}" "$sbin/norvale-guard" --trust-uid "$Nobody" "${words[@]:0:2}" >"$tmp/refused.log" 2>&1
    check "--trust-uid with $refused: status $?, not 1" test $? = 1
    check "--trust-uid with $refused: says why" grep -q "throw-away guard" "$tmp/refused.log"
done
check "the refused guards made no folder" test ! -e "$tmp/elsewhere" -a ! -e "$state/nv4.ini"

open='{"v":1,"id":1,"op":"setup_open"}'
start_guard
check "without --trust-uid nobody may not open the setup" \
    eval "guard_requests $Nobody '$open' | grep -q '\"error\":\"refused\"'"
terminate guard_pid "the guard"
guard_args=(--trust-uid "$Nobody")
start_guard
check "with --trust-uid $Nobody nobody opens the setup, polkit unasked" \
    eval "guard_requests $Nobody '$open' | grep -q '\"ok\":true'"
hello='{"v":1,"id":2,"op":"hello"}'
check "the guard tells nobody's display it is trusted" eval "guard_requests $Nobody '$hello' | grep -q '\"trusted\":true'"
check "the guard tells root's display nothing of trust" not eval "guard_requests 0 '$hello' | grep -q '\"trusted\"'"

# The display as nobody, without a screen: none of its threads blocks SIGTERM, SIGINT or SIGHUP, so
# that no program it starts inherits them, and each of them still ends it through its unload.
home=$(home_of "$Nobody")
for signal in TERM INT HUP; do
    as_user "$Nobody" env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen "$bin/norvale" \
        >>"$tmp/display.log" 2>&1 &
    display_pid=$!
    check "the display talks to the guard" wait_until 10 eval 'peers_of "$display_pid" | grep -q "^norvale-guard "'
    mapfile -t masks < <(awk '/^SigBlk:/ { print $2 }' /proc/"$display_pid"/task/*/status | sort -u)
    blocked=0 && for mask in "${masks[@]}"; do ((0x$mask & 0x4003)) && blocked=1; done
    check "no thread of the display blocks SIGTERM, SIGINT or SIGHUP: ${masks[*]}" test "$blocked" = 0
    kill -"$signal" "$display_pid"
    await_end display_pid "the display, on SIG$signal," 0
done

# norvale-line as a user whom a socket refuses: told so, with its refused status, while the guard runs.
# line_as UID STATUS OUT ERR ARGUMENTS...
line_as() {
    as_user "$1" "$bin/norvale-line" "${@:5}" >"$tmp/out" 2>"$tmp/err"
    local status=$?
    check "norvale-line ${*:5} as $1: status $status, not $2" test "$status" = "$2"
    check "norvale-line ${*:5} as $1: standard output: $(cat "$tmp/out")" test "$(cat "$tmp/out")" = "$3"
    check "norvale-line ${*:5} as $1: standard error: $(cat "$tmp/err")" test "$(cat "$tmp/err")" = "$4"
}
for words in status drop "call Provider" "error 676" "rewrite Provider 0899000000"; do
    read -ra command <<<"$words"
    line_as "$Nobody" 3 "" "norvale-line: refused: this user may not use $run/line.sock (permission denied)" "${command[@]}"
done
chmod 600 "$run/guard.sock"
line_as "$Nobody" 2 "refused: this user may not use $run/guard.sock (permission denied)" "" dial Provider
chmod 666 "$run/guard.sock"
for ((i = 0; i < 8; i++)); do
    held "$Nobody" /dev/null ''
done
check "nobody holds its eight connections" \
    wait_until 5 eval "guard_requests $Nobody '$hello' | grep -q '\"error\":\"busy\"'"
line_as "$Nobody" 2 "refused: too many connections" "" dial Provider
terminate guard_pid "the guard"
line_as 0 1 "" "norvale-line: Norvale is not running (no control socket at $run/line.sock)." status

# A log whose reader has gone, as when the init script's logger ends: the guard goes on guarding and
# serving, and still ends as a service does.
mkfifo "$tmp/log"
exec {log_reader}<>"$tmp/log" {log}>"$tmp/log"
exec {log_reader}<&-
"$sbin/norvale-guard" 1>&"$log" 2>&1 &
guard_pid=$!
exec {log}>&-
check "with no reader of its log the guard answers" \
    wait_until 10 eval "guard_requests 0 '$hello' | grep -q '\"ok\":true'"
check "and a refusal it logs is answered" eval "guard_requests $Nobody '$open' | grep -q '\"error\":\"refused\"'"
check "and it answers after that" eval "guard_requests 0 '$hello' | grep -q '\"ok\":true'"
check "the guard still runs" alive "$guard_pid"
terminate guard_pid "the guard with no reader of its log"
finish
