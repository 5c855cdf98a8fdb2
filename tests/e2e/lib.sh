# Shared by the end-to-end scripts: the installed guard, run as root in the test's folder, and the
# installed display, run as a user who is not root on its own X display with a window manager and a
# tray host, both driven only from outside. Source it, then call e2e_start BUILD_FOLDER.
# shellcheck shell=bash
set -uo pipefail
export LC_ALL=C

build='' tmp='' dir='' shots='' xserver_pid='' guard_pid='' display_pid='' started_ms=0 failures=0 checks=0
desktop_pids=() helper_pids=()
Nobody=65534

# Names and places the program gives itself, in pixels at 15 twips a pixel.
StripTitle='Norvale 4\.0'
IniBanner=$';Norvale 4.2 - ini file\r\n'
SetupButton=(456 12)
MinimiseButton=(476 12)
ExitButton=(496 12)
# Parts of the strip from its top-left corner, as ImageMagick geometries.
BarUp=93x17+92+4
BarDown=93x17+188+4
GraphUp=81x17+280+4
GraphDown=81x17+364+4
Rates=186x9+92+20
Totals=162x9+280+20
StatusLine=489x13+0+35

now_ms() {
    local t=${EPOCHREALTIME/./}
    echo $((t / 1000))
}

# A line in the test's output with the time since the script started.
step() { echo "[$(($(now_ms) - script_started_ms)) ms] $*"; }

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# check WHAT COMMAND...: the command must succeed now.
check() {
    local what=$1
    shift
    checks=$((checks + 1))
    "$@" || fail "$what"
}

# require WHAT COMMAND...: as check, but nothing after it makes sense when it fails.
require() {
    local what=$1
    shift
    checks=$((checks + 1))
    "$@" || { fail "$what"; exit 1; }
}

# wait_until SECONDS COMMAND...: polls the command until it succeeds; fails when the time is up.
wait_until() {
    local deadline=$(($(now_ms) + $1 * 1000))
    shift
    until "$@"; do
        (($(now_ms) > deadline)) && return 1
        sleep 0.05
    done
}

# eventually SECONDS WHAT COMMAND...: a check that may take up to SECONDS to hold.
eventually() {
    local seconds=$1 what=$2
    shift 2
    check "$what" wait_until "$seconds" "$@"
}

quiet() { "$@" >/dev/null 2>&1; }
not() { ! "$@"; }

alive() {
    local state
    state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) && [[ $state != Z ]]
}

end_process() {
    local pid=$1
    alive "$pid" || { wait "$pid" 2>/dev/null; return 0; }
    kill -TERM "$pid" 2>/dev/null
    wait_until 3 not alive "$pid" || kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

# await_end VARIABLE WHAT STATUS: waits for the process in the variable to end with that status and
# empties the variable.
await_end() {
    local pid=${!1} status
    if ! wait_until 10 not alive "$pid"; then
        fail "$2 did not end within 10 s"
        return 1
    fi
    wait "$pid"
    status=$?
    printf -v "$1" '%s' ''
    check "$2 ends with status $3 (it gave $status)" test "$status" = "$3"
}

e2e_cleanup() {
    local i
    if ((failures > 0)); then
        for i in guard display; do
            [[ -s $tmp/$i.log ]] && { echo "--- $i.log" >&2; cat "$tmp/$i.log" >&2; }
        done
    fi
    if [[ -n $display_pid ]] && alive "$display_pid"; then
        kill -KILL "$display_pid"
        wait "$display_pid" 2>/dev/null
    fi
    for ((i = ${#helper_pids[@]} - 1; i >= 0; i--)); do
        end_process "${helper_pids[i]}"
    done
    stop_desktop
    # A guard that is left gives its files back on SIGTERM.
    [[ -n $guard_pid ]] && end_process "$guard_pid"
    if [[ -n $tmp ]]; then
        # A guard killed while it held its files leaves them immutable.
        chattr -R -i "$tmp" 2>/dev/null
        rm -rf "$tmp"
    fi
}

# e2e_start BUILD [no-desktop]: installs the build into a temporary folder and starts a desktop
# there, unless told not to.
e2e_start() {
    local tool
    build=$1
    if ((EUID != 0)); then
        echo "SKIP: the guard under test needs root" >&2
        exit 77
    fi
    for tool in Xvfb openbox trayer xdotool xwininfo xprop xdpyinfo xkill import convert compare jq \
        chattr lsattr sox xkbevd ss setpriv unshare dbus-daemon; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
    done
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-e2e.XXXXXX") || exit 1
    trap e2e_cleanup EXIT
    trap 'echo "interrupted" >&2; exit 130' INT TERM HUP
    # The displays' users reach the installed program through it.
    chmod 755 "$tmp"
    shots=$build/e2e-shots
    mkdir -p "$shots"
    # Staged, so that the desktop entries land in the temporary folder too.
    if ! DESTDIR="$tmp/root" cmake --install "$build" --prefix /opt/norvale >"$tmp/install.log" 2>&1; then
        cat "$tmp/install.log" >&2
        echo "FAIL: cmake --install" >&2
        exit 1
    fi
    dir=$tmp/root/opt/norvale
    export QT_QPA_PLATFORM=xcb NORVALE_AUDIO_SINK="fakesink sync=true"
    unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR
    [[ ${2:-} == no-desktop ]] || start_desktop
}

# ---- the desktop ----------------------------------------------------------------------------

tray_host_shown() {
    local id
    for id in $(xdotool search --class trayer 2>/dev/null); do
        mapped "$id" && return 0
    done
    return 1
}

# A new X server with its tray host and window manager; DISPLAY names it.
start_desktop() {
    # The server picks a free display and writes its number once it accepts clients. Without
    # -noreset it would start over when its last client leaves; without -auth it admits the local
    # clients of every user, as a desktop admits its own user's.
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/xdisplay" 2>>"$tmp/xvfb.log" &
    xserver_pid=$!
    require "Xvfb gives its display number" wait_until 10 test -s "$tmp/xdisplay"
    DISPLAY=:$(head -n 1 "$tmp/xdisplay")
    export DISPLAY
    require "Xvfb answers on $DISPLAY" wait_until 10 quiet xdpyinfo
    # The tray host goes first: the program looks for it at start, and openbox takes over a tray
    # already on the screen.
    trayer --edge bottom --align right --widthtype pixel --width 64 --height 24 >/dev/null 2>&1 &
    desktop_pids=($!)
    require "trayer shows" wait_until 10 tray_host_shown
    openbox >/dev/null 2>&1 &
    desktop_pids+=($!)
    require "openbox runs" wait_until 10 eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
}

# The X server ends as at a logout; its clients lose their connection.
stop_desktop() {
    local pid
    [[ -n $xserver_pid ]] && end_process "$xserver_pid"
    for pid in "${desktop_pids[@]}"; do
        end_process "$pid"
    done
    xserver_pid='' desktop_pids=()
    : >"$tmp/xdisplay"
}

# start_session_bus UID: that user's session bus, as a desktop session has one; sets bus to its
# address.
start_session_bus() {
    local home
    home=$(home_of "$1")
    as_user "$1" env HOME="$home" dbus-daemon --session --nofork --nopidfile \
        --address="unix:path=$home/runtime/bus" --print-address=3 3>"$tmp/bus" >"$tmp/bus.log" 2>&1 &
    helper_pids+=($!)
    require "the session bus answers" wait_until 5 test -s "$tmp/bus"
    bus=$(head -n 1 "$tmp/bus")
}

# ---- the accessibility tree ------------------------------------------------------------------

a11y_uid='' a11y_env=() tree='' changed_name='' listener_pid=''

# start_accessibility UID: that user's session bus (unless one runs) and its accessibility bus, both
# under that uid, as a desktop session has them; a11y_env is what a display then needs to join them.
start_accessibility() {
    local home
    home=$(home_of "$1")
    a11y_uid=$1
    [[ -n ${bus:-} ]] || start_session_bus "$1"
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

# Sets tree to the program's shown nodes, one a line: ROLE NAME DESCRIPTION TEXT STATES X,Y, tab-separated.
read_tree() { tree=$(atspi dump 2>>"$tmp/atspi.log"); }

# spoken ROLE NAME [DESCRIPTION]: the last tree read holds such a node.
spoken() { grep -qF "$1"$'\t'"$2"$'\t'"${3-}" <<<"$tree"; }

# node_field ROLE NAME|@X,Y|'' FIELD: a field (1 role ... 6 place) of the first such node of the last
# tree read, found by its name, by its place in its window, or by its role alone.
node_field() {
    awk -F'\t' -v role="$1" -v key="$2" -v field="$3" \
        '$1 == role && (key == "" || $2 == key || "@" $6 == key) { print $field; exit }' <<<"$tree"
}

# listen_for_name ROLE [PREFIX]: from now on for 10 s, a screen reader's wait for a node of that role
# to take a name starting with PREFIX; heard_name then succeeds if one did, and sets changed_name.
listen_for_name() {
    atspi await-name "$1" 10 "${2-}" >"$tmp/name-change.out" 2>>"$tmp/atspi.log" &
    listener_pid=$!
    wait_until 5 grep -q '^listening$' "$tmp/name-change.out"
}
heard_name() {
    wait "$listener_pid" || return 1
    changed_name=$(sed -n 2p "$tmp/name-change.out")
}

# Every bell of the display becomes a line in bells.log.
start_bell_log() {
    printf 'Bell() shell "echo bell >> %s/bells.log"\n' "$tmp" >"$tmp/xkbevd.cf"
    : >"$tmp/bells.log"
    xkbevd -cfg "$tmp/xkbevd.cf" >"$tmp/xkbevd.log" 2>&1 &
    helper_pids+=($!)
    # It says so once it listens.
    require "xkbevd listens" wait_until 5 grep -q "disabling the audible bell" "$tmp/xkbevd.log"
}

bells() { wc -l <"$tmp/bells.log"; }

# ---- the guard and the display ------------------------------------------------------------------

# On the built-in line, once the line answers too.
guard_ready() {
    grep -q "^norvale-guard: guarding" "$tmp/guard.log" &&
        { grep -qx backend=ppp "$dir/dialer.conf" 2>/dev/null || quiet line status; }
}

# start_guard [NAME=VALUE...]: the installed guard as root with these extra settings in its
# environment, in the staged folder; returns once it guards.
start_guard() {
    env "$@" "$dir/norvale-guard" --folder "$dir" --run-dir "$tmp/run" >"$tmp/guard.log" 2>&1 &
    guard_pid=$!
    require "the guard starts guarding" wait_until 10 guard_ready
}

terminate_guard() {
    kill -TERM "$guard_pid"
    await_end guard_pid "the guard" 0
}

# Ends the guard with nothing saved; the kernel drops its fanotify listener, the immutable flags
# stay until cleared.
kill_guard() {
    kill -KILL "$guard_pid"
    { wait "$guard_pid"; } 2>/dev/null
    guard_pid=
    chattr -i "$dir"/* 2>/dev/null
}

# home_of UID: the folder of a display's user, made on first use: HOME, and its XDG_RUNTIME_DIR
# inside, each 0700 and owned by the user.
home_of() {
    local home=$tmp/user-$1
    if [[ ! -d $home ]]; then
        mkdir -m 700 "$home" "$home/runtime"
        chown -R "$1:$(id -g "$1")" "$home"
    fi
    echo "$home"
}

# start_display UID [NAME=VALUE...]: the installed display as that user, with these extra settings
# in its environment. nobody gets no groups; any other user the groups of the user database.
start_display() {
    local uid=$1 home groups=--init-groups
    shift
    home=$(home_of "$uid")
    ((uid == Nobody)) && groups=--clear-groups
    setpriv --reuid "$uid" --regid "$(id -g "$uid")" "$groups" \
        env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" "$@" "$dir/norvale" >>"$tmp/display.log" 2>&1 &
    display_pid=$!
    started_ms=$(now_ms)
}

# Ends the display the way a logout does; the guard goes on.
terminate_display() {
    kill -TERM "$display_pid"
    await_end display_pid "the display" 0
}

# ---- an administrator without an account on the machine -------------------------------------

admin_uid='' admin_name=norvale-e2e

# No test may create accounts on the machine, and the administrator's display needs a user in
# group sudo: the script runs again in a private mount namespace, where copies of /etc/passwd and
# /etc/group bind-mounted over the real ones hold such a user. Call it first; add_admin_user after
# e2e_start.
enter_admin_namespace() {
    if ((EUID != 0)); then
        echo "SKIP: the guard under test needs root" >&2
        exit 77
    fi
    [[ ${NORVALE_E2E_NAMESPACE:-} == 1 ]] && return 0
    NORVALE_E2E_NAMESPACE=1 exec unshare --mount --propagation private bash "$0" "$@"
}

add_admin_user() {
    admin_uid=4242
    while getent passwd "$admin_uid" >/dev/null || getent group "$admin_uid" >/dev/null; do
        admin_uid=$((admin_uid + 1))
    done
    require "$admin_name is no user of the machine" not quiet getent passwd "$admin_name"
    cp /etc/passwd "$tmp/passwd"
    cp /etc/group "$tmp/group"
    chmod 644 "$tmp/passwd" "$tmp/group"
    echo "$admin_name:x:$admin_uid:$admin_uid:Norvale test:/nonexistent:/usr/sbin/nologin" >>"$tmp/passwd"
    echo "$admin_name:x:$admin_uid:" >>"$tmp/group"
    require "the machine has a group sudo" grep -q '^sudo:' "$tmp/group"
    sed -i -E "s/^(sudo:[^:]*:[^:]*:)(.+)$/\1\2,$admin_name/; s/^(sudo:[^:]*:[^:]*:)$/\1$admin_name/" "$tmp/group"
    mount --bind "$tmp/passwd" /etc/passwd && mount --bind "$tmp/group" /etc/group
    require "$admin_name ($admin_uid) is in group sudo here" eval "id -nG $admin_uid | grep -qw sudo"
}

# No polkitd runs in the test's sandbox: a stand-in for pkcheck, first on the guard's PATH, writes
# down each call's arguments and answers what pkcheck.answer says (0 granted, 1 refused).
make_pkcheck() {
    mkdir -p "$tmp/bin"
    cat >"$tmp/bin/pkcheck" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>'$tmp/pkcheck.calls'
printf '%s\n' "\${DBUS_SYSTEM_BUS_ADDRESS-the system's}" >>'$tmp/pkcheck.buses'
exit "\$(cat '$tmp/pkcheck.answer')"
EOF
    chmod 755 "$tmp/bin/pkcheck"
    : >"$tmp/pkcheck.calls"
    pkcheck_answers 0
}

pkcheck_answers() { echo "$1" >"$tmp/pkcheck.answer"; }

# ---- raw clients of guard.sock ------------------------------------------------------------------

# as_user UID COMMAND...: the command as that user, with no groups. Started with & it becomes the
# job itself, so that $! names the command and not a shell around it.
as_user() {
    local command=(setpriv --reuid "$1" --regid "$(id -g "$1" 2>/dev/null || echo "$1")" --clear-groups "${@:2}")
    [[ $BASHPID != "$$" ]] && exec "${command[@]}"
    "${command[@]}"
}

# guard_requests UID REQUEST...: one connection of that user sends the request lines and prints the
# answers, one a line, as they come (none for a request that got none within 5 s).
guard_requests() { printf '%s\n' "${@:2}" | as_user "$1" socat -t 5 - "UNIX-CONNECT:$dir/guard.sock"; }

# client UID OUT [socat options]: a connection of that user that sends what comes on standard input
# and writes what it gets to OUT; with -u it never reads. Started with &, $! is the socat.
client() { as_user "$1" socat "${@:3}" - "UNIX-CONNECT:$dir/guard.sock" >"$2"; }

# held UID OUT TEXT [socat options]: as client, sending TEXT and keeping its sending side open until
# the test ends (through a FIFO the test holds, so that no process of its own lingers); $held_pid is
# the socat.
held() {
    local fifo=$tmp/held.$((++held_count)) fd
    mkfifo "$fifo"
    exec {fd}<>"$fifo"
    printf '%s' "$3" >&"$fd"
    client "$1" "$2" "${@:4}" <"$fifo" &
    held_pid=$!
    helper_pids+=("$held_pid")
}
held_count=0

# The Recv-Q of a process's Unix-socket connection: how much the guard sent it that it did not read.
unread_by() { ss -xpn 2>/dev/null | awk -v pid="pid=$1," '$1 == "u_str" && index($0, pid) { print $3; exit }'; }

# ---- what talks to whom -------------------------------------------------------------------------

# descendants PID: the process and every process below it.
descendants() {
    local pid child
    for pid in "$@"; do
        echo "$pid"
        for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
            descendants "$child"
        done
    done
}

# peers_of PID...: for each connected Unix socket of these processes, the program on the other end
# ("COMMAND PID"), from ss: a socket's peer is the socket whose inode is its peer inode.
peers_of() {
    local pids=" $* "
    ss -xpn 2>/dev/null | awk -v pids="$pids" '
        NR > 1 {
            local_inode = $6; peer_inode = $8
            n = 0
            while (match($0, /\("[^"]*",pid=[0-9]+/)) {
                entry = substr($0, RSTART + 1, RLENGTH - 1); $0 = substr($0, RSTART + RLENGTH)
                split(entry, f, /",pid=/); name = substr(f[1], 2)
                owner[local_inode] = owner[local_inode] name " " f[2] ";"
                if (index(pids, " " f[2] " ")) mine[local_inode] = peer_inode
            }
        }
        END {
            for (inode in mine) {
                split(owner[mine[inode]], list, ";")
                for (i in list) if (list[i] != "") print list[i]
            }
        }' | sort -u
}

# check_guard_apart PATTERN...: no process of the guard's tree is connected to an X server or a
# D-Bus daemon, and the same reading sees the display connected to a program matching each pattern
# ("COMMAND PID"), so that it would see such connections.
check_guard_apart() {
    local tree guard_peers display_peers pattern
    mapfile -t tree < <(descendants "$guard_pid")
    guard_peers=$(peers_of "${tree[@]}" | paste -sd ,)
    display_peers=$(peers_of "$display_pid" | paste -sd ,)
    check "the guard's tree (${tree[*]}) talks to no X server or D-Bus daemon: $guard_peers" \
        not grep -qE '(^|,)(Xvfb|Xorg|X|Xwayland|dbus-daemon|dbus-broker) ' <<<"$guard_peers"
    for pattern in "$@"; do
        check "the reading sees the display's peer $pattern: $display_peers" grep -qE "(^|,)$pattern(,|$)" <<<"$display_peers"
    done
}

# ---- windows ------------------------------------------------------------------------------

# geometry WINDOW: "X Y WIDTH HEIGHT" on the screen, and whether it is shown.
geometry() {
    xwininfo -id "$1" 2>/dev/null | awk '
        /Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
        /^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } /Map State:/ { m = $3 }
        END { if (w != "") print x, y, w, h, m }'
}

mapped() { [[ $(geometry "$1") == *IsViewable ]]; }
# Hidden, or gone altogether.
unmapped() { ! mapped "$1"; }
place_is() { [[ $(geometry "$1") == "$2 IsViewable" ]]; }

# shown_window VARIABLE PATTERN: sets the variable to a shown window whose title matches.
shown_window() {
    local id
    for id in $(xdotool search --name "$2" 2>/dev/null); do
        mapped "$id" && printf -v "$1" '%s' "$id" && return 0
    done
    return 1
}

# await_window VARIABLE PATTERN: waits until such a window shows.
await_window() { wait_until 10 shown_window "$@"; }

# Waits until the window's place holds still over two readings and sets the variable named to it.
await_settled() {
    local var=$1 window=$2 last='' now
    still() {
        sleep 0.15
        now=$(geometry "$window")
        [[ -n $now && $now == "$last" ]] && return 0
        last=$now
        return 1
    }
    wait_until 5 still || return 1
    printf -v "$var" '%s' "${now% *}"
}

# The shown 22x22 icons in the tray host: "WINDOW CENTRE_X CENTRE_Y" each. Of a line of
# "xwininfo -tree" only the program's own window has a class; the host's socket window around it
# has the same size.
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

# Sets icon_x and icon_y to the centre of the one tray icon, once the host has stopped moving it: a
# host lays its icons out again after it embeds one, and a click on the old place hits nothing.
await_icon() {
    local last='' now
    icon_still() {
        sleep 0.15
        now=$(tray_icons)
        [[ $(wc -l <<<"$now") == 1 && -n $now && $now == "$last" ]] && return 0
        last=$now
        return 1
    }
    wait_until 5 icon_still || return 1
    read -r _ icon_x icon_y <<<"$now"
}

# One xdotool command moves and clicks in order. (mousemove --sync would wait for a motion that
# never comes when the pointer is there already.)
click() { # click X Y [BUTTON [COUNT]]
    xdotool mousemove "$1" "$2" click --repeat "${4:-1}" --delay 80 "${3:-1}"
}

mouse_away() { xdotool mousemove 900 700; }

# Sets strip to the strip's window while it shows. Back from the tray it may be a new window.
strip_shown() { shown_window strip "$StripTitle"; }
strip_hidden() { ! strip_shown; }

# Brings the strip back from the tray with a double click on the icon.
restore_strip() {
    await_icon || return 1
    click "$icon_x" "$icon_y" 1 2
    wait_until 5 strip_shown
}

# Sets strip_x, strip_y, strip_w and strip_h from where the strip is now.
strip_place() { read -r strip_x strip_y strip_w strip_h _ < <(geometry "$strip"); }

# moved_by GEOMETRY X Y: the part of a window given from its top-left corner, on the screen.
moved_by() {
    local size=${1%%+*} offset=${1#*+}
    echo "$size+$(($2 + ${offset%%+*}))+$(($3 + ${offset#*+}))"
}

# at GEOMETRY: a part of the strip given from its top-left corner, on the screen.
at() { moved_by "$1" "$strip_x" "$strip_y"; }

# Clicks a button of the strip, given from its top-left corner.
click_strip() {
    strip_place
    click $((strip_x + $1)) $((strip_y + $2))
}

# The tray menu from the icon's right button, then the keys given. The menu is the one window of
# the program larger than an icon that shows while the strip is in the tray. Painted, it has taken
# the keyboard as well (Qt grabs it when the server maps the menu, before it paints).
menu_shown() {
    local id x y w h
    for id in $(xdotool search --onlyvisible --class norvale 2>/dev/null); do
        read -r x y w h _ < <(geometry "$id")
        ((w > 60 && h > 60)) || continue
        shot "$tmp/menu.png"
        (($(count_pixels "$tmp/menu.png" "${w}x$h+$x+$y" 'r + g + b > 600') > w * h / 2)) && return 0
    done
    return 1
}

tray_menu() {
    await_icon || return 1
    click "$icon_x" "$icon_y" 3
    wait_until 5 menu_shown || return 1
    xdotool key --delay 100 "$@"
}

# ---- pictures -----------------------------------------------------------------------------

shot() { import -silent -window root "$1"; }

# changed_pixels A B GEOMETRY: how many pixels of that part differ between two pictures.
changed_pixels() {
    compare -metric AE "$1[$3]" "$2[$3]" null: 2>&1 | awk '{ print int($1) }'
}

# count_pixels PICTURE GEOMETRY 'CONDITION': pixels of the part whose r, g, b (0-255) meet it.
count_pixels() {
    convert "$1[$2]" -depth 8 txt:- |
        awk -F'[()]' 'NR > 1 { split($2, c, ","); r = c[1] + 0; g = c[2] + 0; b = c[3] + 0;
            if ('"$3"') n++ } END { print n + 0 }'
}

# A part of a window's picture, as it is shown, saved with a name for a reader.
keep_shot() { # keep_shot PICTURE GEOMETRY NAME [SCALE]
    convert "$1[$2]" -scale "${4:-100}%" "$shots/$3"
    echo "picture: $shots/$3"
}

# ---- the line -----------------------------------------------------------------------------

line() { "$dir/norvale-line" "$@"; }

last_call() { line status 2>/dev/null | jq -c '.calls[-1] // {}'; }

# Waits until the last call's outcome is one of the given ones and sets call to it.
await_call() {
    local outcomes=" $* "
    settled() {
        call=$(last_call)
        [[ $outcomes == *" $(jq -r '.outcome // "none"' <<<"$call") "* ]]
    }
    wait_until 10 settled
}

field() { jq -r ".$1" <<<"$call"; }
line_is() { [[ $(line status | jq -r .line) == "$1" ]]; }
call_count_is() { [[ $(line status | jq '.calls | length') == "$1" ]]; }

# ---- files --------------------------------------------------------------------------------

# The value encoding of the settings file, written from its rules: each character's code XOR the
# key's character at the same place (the key repeating), as three decimal digits.
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

# Another process's view of the files while the guard holds them.
readable() { cat "$1" >/dev/null 2>&1; }
appendable() { (: >>"$1") 2>/dev/null; }
immutable() { lsattr -d "$1" 2>/dev/null | cut -d' ' -f1 | grep -q i; }
file_has() {
    local content
    IFS= read -r -d '' content <"$1"
    [[ $content == *"$2"* ]]
}
file_is() { cmp -s "$1" <(printf %s "$2"); }
mode_is() { [[ $(stat -c %a "$1") == "$2" ]]; }

e2e_finish() {
    if ((failures > 0)); then
        echo "$(basename "$0"): $failures of $checks checks failed" >&2
        exit 1
    fi
    echo "$(basename "$0"): $checks checks passed in $(($(now_ms) - script_started_ms)) ms"
    exit 0
}

script_started_ms=$(now_ms)
