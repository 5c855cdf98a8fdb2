# Shared by the end-to-end scripts: the installed program on its own X display with a window manager
# and a tray host, driven only from outside. Source it, then call e2e_start BUILD_FOLDER.
# shellcheck shell=bash
set -uo pipefail
export LC_ALL=C

tmp='' dir='' shots='' display_pid='' norvale_pid='' started_ms=0 failures=0 checks=0
helper_pids=()

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
    alive "$pid" || return 0
    kill -TERM "$pid" 2>/dev/null
    wait_until 3 not alive "$pid" || kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}

e2e_cleanup() {
    local i
    if ((failures > 0)) && [[ -s $tmp/norvale.log ]]; then
        echo "--- the program's output" >&2
        cat "$tmp/norvale.log" >&2
    fi
    if [[ -n $norvale_pid ]] && alive "$norvale_pid"; then
        kill -KILL "$norvale_pid"
        wait "$norvale_pid" 2>/dev/null
    fi
    for ((i = ${#helper_pids[@]} - 1; i >= 0; i--)); do
        end_process "${helper_pids[i]}"
    done
    [[ -n $display_pid ]] && end_process "$display_pid"
    if [[ -n $tmp ]]; then
        # A program killed while it held its files leaves them immutable.
        chattr -R -i "$tmp" 2>/dev/null
        rm -rf "$tmp"
    fi
}

# e2e_start BUILD: installs the build into a temporary folder and starts a desktop there.
e2e_start() {
    local build=$1 tool
    if ((EUID != 0)); then
        echo "SKIP: the file protection under test needs root" >&2
        exit 77
    fi
    for tool in Xvfb openbox trayer xdotool xwininfo xprop xdpyinfo import convert compare jq \
        chattr lsattr sox xkbevd; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
    done
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-e2e.XXXXXX") || exit 1
    trap e2e_cleanup EXIT
    trap 'echo "interrupted" >&2; exit 130' INT TERM HUP
    shots=$build/e2e-shots
    mkdir -p "$shots"
    # Staged, so that the desktop entries land in the temporary folder too.
    if ! DESTDIR="$tmp/root" cmake --install "$build" --prefix /opt/norvale >"$tmp/install.log" 2>&1; then
        cat "$tmp/install.log" >&2
        echo "FAIL: cmake --install" >&2
        exit 1
    fi
    dir=$tmp/root/opt/norvale
    mkdir -m 700 "$tmp/runtime"
    export XDG_RUNTIME_DIR=$tmp/runtime QT_QPA_PLATFORM=xcb NORVALE_AUDIO_SINK="fakesink sync=true"
    unset WAYLAND_DISPLAY
    start_desktop
}

tray_host_shown() {
    local id
    for id in $(xdotool search --class trayer 2>/dev/null); do
        mapped "$id" && return 0
    done
    return 1
}

start_desktop() {
    # The server picks a free display and writes its number once it accepts clients. Without
    # -noreset it would start over when its last client leaves.
    Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
    display_pid=$!
    require "Xvfb gives its display number" wait_until 10 test -s "$tmp/display"
    DISPLAY=:$(head -n 1 "$tmp/display")
    export DISPLAY
    require "Xvfb answers on $DISPLAY" wait_until 10 quiet xdpyinfo
    # The tray host goes first: the program looks for it at start, and openbox takes over a tray
    # already on the screen.
    trayer --edge bottom --align right --widthtype pixel --width 64 --height 24 >/dev/null 2>&1 &
    helper_pids+=($!)
    require "trayer shows" wait_until 10 tray_host_shown
    openbox >/dev/null 2>&1 &
    helper_pids+=($!)
    require "openbox runs" wait_until 10 eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
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

# start_norvale [NAME=VALUE...]: the installed program with these extra settings in its environment.
start_norvale() {
    env "$@" "$dir/norvale" >"$tmp/norvale.log" 2>&1 &
    norvale_pid=$!
    started_ms=$(now_ms)
}

# Ends the program the way a logout does and waits for it; fails when it does not end cleanly.
terminate_norvale() {
    kill -TERM "$norvale_pid"
    await_exit
}

await_exit() {
    local status
    if ! wait_until 10 not alive "$norvale_pid"; then
        fail "the program did not end within 10 s"
        return 1
    fi
    wait "$norvale_pid"
    status=$?
    norvale_pid=
    check "the program ends with status 0 (it gave $status)" test "$status" = 0
}

# Ends the program with nothing saved; the kernel drops its fanotify listener, the immutable flags
# stay until cleared.
kill_norvale() {
    kill -KILL "$norvale_pid"
    { wait "$norvale_pid"; } 2>/dev/null
    norvale_pid=
    chattr -i "$dir"/* 2>/dev/null
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

# Another process's view of the files while the program holds them.
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
