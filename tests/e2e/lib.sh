# Shared by the shell tests, which drive the real programs from outside in a temporary folder.
# Source it, then call e2e_start BUILD [no-desktop|bare]: the build installed there (staged, desktop
# entries included) with a desktop, without one, or only the built programs in a bare folder.
# shellcheck shell=bash
set -uo pipefail
export LC_ALL=C

build='' tmp='' bin='' sbin='' share='' conf='' state='' run='' xserver_pid='' guard_pid='' display_pid='' failures=0 checks=0
desktop_pids=() helper_pids=()
Nobody=65534
IniBanner=$';Norvale 4.2 - ini file\r\n'

now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

check() {
    checks=$((checks + 1))
    "${@:2}" || fail "$1"
}

# require: as check, when nothing after it makes sense without it.
require() {
    checks=$((checks + 1))
    "${@:2}" || { fail "$1"; exit 1; }
}

wait_until() {
    local deadline=$(($(now_ms) + $1 * 1000))
    until "${@:2}"; do
        (($(now_ms) > deadline)) && return 1
        sleep 0.05
    done
}

eventually() { check "$2" wait_until "$1" "${@:3}"; }

quiet() { "$@" >/dev/null 2>&1; }
# exits_with STATUS LOG COMMAND...: its output to LOG.
exits_with() {
    "${@:3}" >"$2" 2>&1
    (($? == $1))
}
not() { ! "$@"; }

alive() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) && [[ $state != Z ]]
}

end_process() {
    alive "$1" && kill -TERM "$1" 2>/dev/null && { wait_until 3 not alive "$1" || kill -KILL "$1" 2>/dev/null; }
    wait "$1" 2>/dev/null
}

# await_end VARIABLE WHAT STATUS: within systemd's 90 s for a service; empties the variable.
await_end() {
    local pid=${!1} status
    wait_until 90 not alive "$pid" || { fail "$2 did not end within 90 s"; return 1; }
    wait "$pid"
    status=$?
    printf -v "$1" '%s' ''
    check "$2 ends with status $3 (it gave $status)" test "$status" = "$3"
}

# terminate VARIABLE WHAT: as a service is stopped.
terminate() {
    kill -TERM "${!1}"
    await_end "$1" "$2" 0
}

need_root() { ((EUID == 0)) || { echo "SKIP: the guard under test needs root" >&2; exit 77; }; }

cleanup() {
    local i
    for i in guard display; do
        ((failures > 0)) && [[ -s $tmp/$i.log ]] && { echo "--- $i.log" >&2; tail -n 40 "$tmp/$i.log" >&2; }
    done
    [[ -n $display_pid ]] && kill -KILL "$display_pid" 2>/dev/null && wait "$display_pid" 2>/dev/null
    for ((i = ${#helper_pids[@]} - 1; i >= 0; i--)); do
        end_process "${helper_pids[i]}"
    done
    stop_desktop
    # A guard that is left gives its files back on SIGTERM; one killed leaves them immutable.
    [[ -n $guard_pid ]] && end_process "$guard_pid"
    # A guard of the real line leaves its modem fenced when it ends: the next test must not find it.
    [[ -x ${sbin:-}/norvale-guard ]] && "$sbin/norvale-guard" --release >/dev/null 2>&1
    if [[ -n $tmp ]]; then
        chattr -R -i "$tmp" 2>/dev/null
        rm -rf "$tmp"
    fi
}

e2e_start() {
    build=$1
    [[ ${2:-} == bare ]] || need_root
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-e2e.XXXXXX") || exit 1
    trap cleanup EXIT
    trap 'echo "interrupted" >&2; exit 130' INT TERM HUP
    chmod 755 "$tmp" # for the displays' users
    [[ ${2:-} == bare ]] && { bare_folder; return; }
    DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1 ||
        { cat "$tmp/install.log" >&2; echo "FAIL: cmake --install" >&2; exit 1; }
    # A prefix other than /usr keeps the settings, the state and the sockets under it.
    local prefix=$tmp/root/usr
    bin=$prefix/bin sbin=$prefix/sbin share=$prefix/share/norvale
    conf=$prefix/etc/norvale state=$prefix/var/lib/norvale run=$prefix/run/norvale
    mkdir -p "$conf" "$state"
    export QT_QPA_PLATFORM=xcb NORVALE_AUDIO_SINK="fakesink sync=true"
    unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR
    [[ ${2:-} == no-desktop ]] || start_desktop
}

# As in the build tree: with no share/norvale beside them, the programs' folder serves for all.
bare_folder() {
    kill_guard
    state=$tmp/prog
    bin=$state sbin=$state share=$state conf=$state run=$state
    chattr -R -i "$state" 2>/dev/null
    rm -rf "$state"
    mkdir -m 755 "$state" && cp "$build"/{norvale-guard,norvale-line,phonebook.sample.conf} "$state/" || exit 1
    printf 'stage_ms=1\n' >"$conf/dialer.conf"
}


start_desktop() {
    local tool
    for tool in Xvfb openbox trayer xdotool xwininfo xprop xdpyinfo xkill import convert jq sox ss dbus-daemon; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
    done
    # -noreset: no start over when the last client leaves; no -auth: every local user's clients.
    : >"$tmp/xdisplay"
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/xdisplay" 2>>"$tmp/xvfb.log" &
    xserver_pid=$!
    require "Xvfb gives its display number" wait_until 10 test -s "$tmp/xdisplay"
    DISPLAY=:$(head -n 1 "$tmp/xdisplay")
    export DISPLAY
    require "Xvfb answers on $DISPLAY" wait_until 10 quiet xdpyinfo
    # The tray host first: the program looks for it at start, and openbox takes a shown one over.
    trayer --edge bottom --align right --widthtype pixel --width 64 --height 24 >/dev/null 2>&1 &
    desktop_pids=($!)
    require "trayer shows" wait_until 10 quiet xdotool search --onlyvisible --class trayer
    openbox >/dev/null 2>&1 &
    desktop_pids+=($!)
    require "openbox runs" wait_until 10 eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
}

# As at a logout.
stop_desktop() {
    local pid
    for pid in $xserver_pid "${desktop_pids[@]}"; do
        end_process "$pid"
    done
    xserver_pid='' desktop_pids=()
}

a11y_uid='' a11y_env=() tree=''

# start_accessibility UID: that user's session bus (unless one runs; its address in bus) and
# accessibility bus; a display joins them with a11y_env.
start_accessibility() {
    local home
    a11y_uid=$1 home=$(home_of "$1")
    if [[ -z ${bus:-} ]]; then
        as_user "$1" env HOME="$home" dbus-daemon --session --nofork --nopidfile \
            --address="unix:path=$home/runtime/bus" --print-address=3 3>"$tmp/bus" >"$tmp/bus.log" 2>&1 &
        helper_pids+=($!)
        require "the session bus answers" wait_until 5 test -s "$tmp/bus"
        bus=$(head -n 1 "$tmp/bus")
    fi
    as_user "$1" env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DBUS_SESSION_BUS_ADDRESS="$bus" \
        /usr/libexec/at-spi-bus-launcher --launch-immediately >"$tmp/atspi.log" 2>&1 &
    helper_pids+=($!)
    # The reader runs as that user, who may not read the source tree.
    install -m 644 "$(dirname "${BASH_SOURCE[0]}")/atspi.py" "$tmp/atspi.py"
    a11y_env=(DBUS_SESSION_BUS_ADDRESS="$bus" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1)
    require "the accessibility bus answers" wait_until 5 quiet as_user "$1" env DBUS_SESSION_BUS_ADDRESS="$bus" \
        dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress
}

atspi() { as_user "$a11y_uid" env DBUS_SESSION_BUS_ADDRESS="$bus" HOME="$(home_of "$a11y_uid")" /usr/bin/python3 "$tmp/atspi.py" "$@"; }

# tree: the shown nodes, a line each: ROLE NAME DESCRIPTION TEXT STATES X,Y, tab-separated.
read_tree() { tree=$(atspi dump 2>>"$tmp/atspi.log"); }

# spoken ROLE NAME [DESCRIPTION]: the last tree read holds such a node.
spoken() { grep -qF "$1"$'\t'"$2"$'\t'"${3-}" <<<"$tree"; }

# node_field ROLE NAME|@X,Y|'' FIELD: a field (1 to 6) of the first node of that role and name or place.
node_field() { awk -F'\t' -v role="$1" -v key="$2" -v field="$3" \
    '$1 == role && (key == "" || $2 == key || "@" $6 == key) { print $field; exit }' <<<"$tree"; }


# On the built-in line, once the line answers too.
guard_ready() {
    alive "$guard_pid" || { fail "the guard ended at its start"; exit 1; }
    grep -q "^norvale-guard: guarding" "$tmp/guard.log" &&
        { grep -qx backend=ppp "$conf/dialer.conf" 2>/dev/null || quiet line status; }
}

# start_guard [COMMAND...]: the guard as root, or through env or as_user, with guard_args; huge files
# take a minute.
guard_args=()
start_guard() {
    "$@" "$sbin/norvale-guard" "${guard_args[@]}" >"$tmp/guard.log" 2>&1 &
    guard_pid=$!
    require "the guard starts guarding" wait_until 60 guard_ready
}

# Nothing saved; the immutable flags stay.
kill_guard() {
    [[ -n $guard_pid ]] && kill -KILL "$guard_pid" && { wait "$guard_pid"; } 2>/dev/null
    guard_pid=
}

# home_of UID: HOME of a display's user, made on first use, with its XDG_RUNTIME_DIR inside.
home_of() {
    local home=$tmp/user-$1
    [[ -d $home ]] || { mkdir -m 700 "$home" "$home/runtime" && chown -R "$1:$(id -g "$1")" "$home"; }
    echo "$home"
}

# start_display UID [NAME=VALUE...]: the display as that user (nobody with no groups), in that environment.
start_display() {
    local home groups=--init-groups
    home=$(home_of "$1")
    (($1 == Nobody)) && groups=--clear-groups
    setpriv --reuid "$1" --regid "$(id -g "$1")" "$groups" \
        env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" "${@:2}" "$bin/norvale" >>"$tmp/display.log" 2>&1 &
    display_pid=$!
}



# as_user UID COMMAND...: with no groups; started with &, $! names the command, not a subshell.
as_user() {
    local command=(setpriv --reuid "$1" --regid "$(id -g "$1" 2>/dev/null || echo "$1")" --clear-groups "${@:2}")
    [[ $BASHPID != "$$" ]] && exec "${command[@]}"
    "${command[@]}"
}

# guard_requests UID REQUEST...: one connection's answers, as they come within 5 s.
guard_requests() { printf '%s\n' "${@:2}" | as_user "$1" socat -t 5 - "UNIX-CONNECT:$run/guard.sock"; }

# client UID OUT [socat options]: standard input to guard.sock, what comes back to OUT (-u: never reads).
client() { as_user "$1" socat "${@:3}" - "UNIX-CONNECT:$run/guard.sock" >"$2"; }

# held UID OUT TEXT [socat options]: a client that sends TEXT and stays open (a FIFO held, no process);
# $held_pid is the socat.
held() {
    local fifo=$tmp/held.${#helper_pids[@]} fd
    mkfifo "$fifo"
    exec {fd}<>"$fifo"
    printf '%s' "$3" >&"$fd"
    client "$1" "$2" "${@:4}" <"$fifo" &
    held_pid=$!
    helper_pids+=("$held_pid")
}


descendants() {
    local child
    echo "$1"
    for child in $(cat /proc/"$1"/task/*/children 2>/dev/null); do
        descendants "$child"
    done
}

# peers_of PID...: "COMMAND PID" at the other end of each of their Unix sockets, by peer inode.
peers_of() {
    ss -xpn 2>/dev/null | awk -v pids=" $* " '
        NR > 1 {
            local_inode = $6; peer_inode = $8
            while (match($0, /\("[^"]*",pid=[0-9]+/)) {
                entry = substr($0, RSTART + 1, RLENGTH - 1); $0 = substr($0, RSTART + RLENGTH)
                split(entry, f, /",pid=/)
                owner[local_inode] = owner[local_inode] substr(f[1], 2) " " f[2] ";"
                if (index(pids, " " f[2] " ")) mine[local_inode] = peer_inode
            }
        }
        END { for (inode in mine) print owner[mine[inode]] }' | tr ';' '\n' | sed '/^$/d' | sort -u
}

# check_guard_apart PATTERN...: the guard's tree talks to no X server or D-Bus daemon, while the same
# reading sees the display's peers.
check_guard_apart() {
    local procs guard_peers display_peers pattern
    mapfile -t procs < <(descendants "$guard_pid")
    guard_peers=$(peers_of "${procs[@]}" | paste -sd ,)
    display_peers=$(peers_of "$display_pid" | paste -sd ,)
    check "the guard's tree (${procs[*]}) talks to no X server or D-Bus daemon: $guard_peers" \
        not grep -qE '(^|,)(Xvfb|Xorg|X|Xwayland|dbus-daemon|dbus-broker) ' <<<"$guard_peers"
    for pattern in "$@"; do
        check "the reading sees the display's peer $pattern: $display_peers" grep -qE "(^|,)$pattern(,|$)" <<<"$display_peers"
    done
}


# geometry WINDOW: "X Y WIDTH HEIGHT MAPSTATE" on the screen.
geometry() {
    xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
        /^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } /Map State:/ { m = $3 }
        END { if (w != "") print x, y, w, h, m }'
}

mapped() { [[ $(geometry "$1") == *IsViewable ]]; }
unmapped() { ! mapped "$1"; }
place_is() { [[ $(geometry "$1") == "$2 IsViewable" ]]; }

# shown_window VARIABLE PATTERN [TEST...]: sets the variable to a shown window whose title matches
# and for which TEST... WINDOW passes.
shown_window() {
    local id
    for id in $(xdotool search --name "$2" 2>/dev/null); do
        mapped "$id" && { (($# < 3)) || "${@:3}" "$id"; } && printf -v "$1" '%s' "$id" && return 0
    done
    return 1
}

# await_still VARIABLE COMMAND...: the output, once the same twice (window managers move new windows).
await_still() {
    local last='' now
    still() {
        sleep 0.15
        now=$("${@:2}")
        [[ -n $now && $now == "$last" ]] || { last=$now; return 1; }
    }
    wait_until 5 still "$@" && printf -v "$1" '%s' "$now"
}

# await_settled VARIABLE WINDOW: "X Y WIDTH HEIGHT" of the window once it holds still.
await_settled() { await_still "$1" geometry "$2" && printf -v "$1" '%s' "${!1% *}"; }

# "WINDOW CENTRE_X CENTRE_Y" of each shown 22x22 tray icon (the host's socket windows have no class).
tray_icons() {
    local host id x y
    for host in $(xdotool search --class trayer 2>/dev/null); do
        xwininfo -tree -id "$host" 2>/dev/null |
            sed -nE 's/^ *(0x[0-9a-f]+) .*\(".*" ".*"\) +22x22\+-?[0-9]+\+-?[0-9]+ +\+(-?[0-9]+)\+(-?[0-9]+).*/\1 \2 \3/p'
    done | while read -r id x y; do
        mapped "$id" && echo "$id $((x + 11)) $((y + 11))"
    done
}

icon_count_is() { [[ $(tray_icons | wc -l) == "$1" ]]; }

# Sets icon_x and icon_y to the centre of the one tray icon once it holds still.
await_icon() {
    local icons
    await_still icons tray_icons && [[ $(wc -l <<<"$icons") == 1 ]] && read -r _ icon_x icon_y <<<"$icons"
}

# click X Y [BUTTON [COUNT]]: no --sync, which waits forever when the pointer is there already.
click() { xdotool mousemove "$1" "$2" click --repeat "${4:-1}" --delay 80 "${3:-1}"; }

# Sets strip to the strip's window while it shows. Back from the tray it may be a new window.
strip_shown() { shown_window strip 'Norvale 4\.0'; }
strip_hidden() { ! strip_shown; }

restore_strip() { await_icon && click "$icon_x" "$icon_y" 1 2 && wait_until 5 strip_shown; }

click_strip() {
    local x y
    read -r x y _ < <(geometry "$strip")
    click $((x + $1)) $((y + $2))
}



line() { "$bin/norvale-line" "$@"; }
line_is() { [[ $(line status | jq -r .line) == "$1" ]]; }
field() { jq -r ".$1" <<<"$call"; }

# await_call OUTCOME...: sets call to the last call once its outcome is one of these.
await_call() {
    local outcomes=" $* "
    settled() {
        call=$(line status 2>/dev/null | jq -c '.calls[-1] // {}')
        [[ $outcomes == *" $(jq -r '.outcome // "none"' <<<"$call") "* ]]
    }
    wait_until 10 settled
}

# hung_up ENTRY [NUMBER]: another program's call is hung up when it connects the device (state 2).
hung_up() {
    check "$1: the call is placed" quiet line call "$1" ${2:+--number "$2"}
    await_call hung-up connected dropped error || { fail "$1: the call did not end"; return 1; }
    check "$1: hung up by the guard at the device stage: $call" \
        test "$(jq -r '"\(.outcome) \(.last_state) \(.placed_by)"' <<<"$call")" = "hung-up 2 other"
    check "$1: the line is idle" line_is idle
}

# Each character's code XOR the repeating key's, as three digits.
encode() {
    local text=$1 key=KTRW39PPZ82Q out='' i c k
    for ((i = 0; i < ${#text}; i++)); do
        printf -v c '%d' "'${text:i:1}"
        printf -v k '%d' "'${key:i%12:1}"
        printf -v out '%s%03d' "$out" $((c ^ k))
    done
    echo "$out"
}

# connection_row N NAME NUMBER AUTHORISED DEFAULT TYPE UP DOWN: one row of [Connections], CR LF.
connection_row() {
    printf 'ConName%s=%s\r\nConNumber%s=%s\r\nConAuth%s=%s\r\nConPred%s=%s\r\nSpeedType%s=%s\r\nSpeedUp%s=%s\r\nSpeedDown%s=%s\r\n' \
        "$1" "$(encode "$2")" "$1" "$(encode "$3")" "$1" "$4" "$1" "$5" "$1" "$6" "$1" "$7" "$1" "$8"
}

# provider_and_premium FILE: nv4.ini with Provider ($Provider) authorised and the default, Premium not.
provider_and_premium() {
    { printf '%s[Connections]\r\n' "$IniBanner"; connection_row 0 Provider "$Provider" true true 0 10 14
        connection_row 1 Premium "$Premium" false false 0 10 14; } >"$1" && chmod 644 "$1"
}

# Another process's view of the files while the guard holds them.
readable() { cat "$1" >/dev/null 2>&1; }
immutable() { [[ $(lsattr -d "$1" 2>/dev/null) == *i*' '* ]]; }
file_has() {
    local content
    IFS= read -r -d '' content <"$1"
    [[ $content == *"$2"* ]]
}
mode_is() { [[ $(stat -c %a "$1") == "$2" ]]; }

finish() {
    ((failures == 0)) || { echo "$(basename "$0"): $failures of $checks checks failed" >&2; exit 1; }
    echo "$(basename "$0"): $checks checks passed in $(($(now_ms) - script_started_ms)) ms"
}

script_started_ms=$(now_ms)
