# Shared by the reliability scripts: a temporary program folder, starting and stopping the real
# norvale-guard in it, the line control, and the checks of nv4.ini. Source it with the build folder
# as $1.
set -uo pipefail

NV_BUILD=$(cd "$1" && pwd) || exit 1
NV_TMP=$(mktemp -d "${TMPDIR:-/tmp}/norvale-reliab.XXXXXX") || exit 1
NV_DIR=$NV_TMP/prog
# The guard's own root-only folder.
NV_RUN=$NV_TMP/run
NV_LOG=$NV_TMP/run.log
NV_PID=
nv_failures=0

nv_kill() {
    if [[ -n $NV_PID ]]; then
        kill -KILL "$NV_PID" 2>/dev/null
        wait "$NV_PID" 2>/dev/null
        NV_PID=
    fi
}

nv_cleanup() {
    nv_kill
    # A guard killed while it held its files leaves them immutable.
    chattr -R -i "$NV_TMP" 2>/dev/null
    rm -rf "$NV_TMP"
}
trap nv_cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
    echo "FAIL: $*" >&2
    nv_failures=$((nv_failures + 1))
}

# The verdict of the script: its last command.
nv_finish() {
    if ((nv_failures > 0)); then
        echo "--- last output of the guard" >&2
        tail -n 30 "$NV_LOG" >&2
        echo "$nv_failures failure(s)" >&2
        exit 1
    fi
    exit 0
}

# A fresh program folder holding what the guard needs of an installation: the guard and the sample
# phonebook that the built-in line starts from. The folder can be read by every user, so that the
# guard can run as another one; its run folder is made afresh too.
nv_folder() {
    nv_kill
    chattr -R -i "$NV_DIR" 2>/dev/null
    rm -rf "$NV_DIR" "$NV_RUN"
    mkdir -p "$NV_DIR" && chmod 755 "$NV_TMP" "$NV_DIR"
    cp "$NV_BUILD/norvale-guard" "$NV_BUILD/phonebook.sample.conf" "$NV_DIR/" || return 1
    : >"$NV_LOG"
}

# nv_start [COMMAND...]: starts the guard in the background, through COMMAND if given
# (setpriv ... to run it as another user, who must then own the run folder).
nv_start() {
    (cd "$NV_DIR" && exec "$@" "$NV_DIR/norvale-guard" --folder "$NV_DIR" --run-dir "$NV_RUN") >>"$NV_LOG" 2>&1 &
    NV_PID=$!
}

nv_alive() {
    local state
    [[ -n $NV_PID ]] && read -r _ _ state _ 2>/dev/null <"/proc/$NV_PID/stat" && [[ $state != Z ]]
}

nv_line() {
    "$NV_BUILD/norvale-line" --socket "$NV_DIR/line.sock" "$@"
}

# A guard that does not answer within 5 s counts as not answering.
nv_status() {
    timeout 5 "$NV_BUILD/norvale-line" --socket "$NV_DIR/line.sock" status 2>/dev/null
}

# Waits up to a minute until the guard answers on its line, which it serves only once its start-up
# has run (with "locked", until nv4.ini is locked too: run as root, it denies every open). Prints
# the seconds it took.
nv_wait_up() {
    local start=$EPOCHREALTIME deadline=$((SECONDS + 60))
    while ((SECONDS < deadline)); do
        nv_alive || return 1
        if nv_status >/dev/null && { [[ ${1:-} != locked ]] || ! { : <"$NV_DIR/nv4.ini"; } 2>/dev/null; }; then
            nv_seconds_since "$start"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

nv_immutable() {
    [[ $(lsattr -d "$1" 2>/dev/null) == *i*' '* ]]
}

nv_seconds_since() {
    awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", b - a }'
}

# SIGTERM, then waits for the end, up to systemd's default 90 s for a service to stop; returns the
# exit status, 124 if it did not end. NV_STOP_SECONDS holds how long it took.
nv_stop() {
    local start=$EPOCHREALTIME deadline=$((SECONDS + 90))
    kill -TERM "$NV_PID" 2>/dev/null
    while nv_alive && ((SECONDS < deadline)); do
        sleep 0.05
    done
    NV_STOP_SECONDS=$(nv_seconds_since "$start")
    nv_alive && return 124
    wait "$NV_PID"
    local status=$?
    NV_PID=
    return "$status"
}

nv_stop_checked() {
    nv_stop
    local status=$?
    ((status == 0)) || fail "$1: the guard ended with status $status after SIGTERM"
    nv_kill
}

# The guard's resident memory in KB.
nv_rss() {
    awk '/^VmRSS:/ { print $2 }' "/proc/$NV_PID/status"
}

# dialer.conf of the built-in line: nv_conf stage_ms=1 ...
nv_conf() {
    printf '%s\n' "$@" >"$NV_DIR/dialer.conf"
}

# Waits until no call is in progress any more; prints the last call.
nv_settled_call() {
    local i last
    for ((i = 0; i < 100; i++)); do
        last=$(nv_status | jq -c '.calls[-1] // empty')
        [[ -n $last && $(jq -r .outcome <<<"$last") != in-progress ]] && break
        sleep 0.05
    done
    echo "$last"
}

# Another program dials an entry nobody authorised: the guard must hang it up before it connects.
nv_check_hangup() {
    local what=$1 entry=${2:-Premium 899} call
    if ! nv_line dial "$entry" --number 0899123456 >/dev/null; then
        fail "$what: the line refused a call by another program"
        return
    fi
    call=$(nv_settled_call)
    [[ $(jq -r '"\(.entry)|\(.outcome)|\(.last_state < 8192)"' <<<"$call") == "$entry|hung-up|true" ]] ||
        fail "$what: the unauthorised call was not hung up before connecting: $call"
}

# A settings file as the guard leaves it: its two sections (their headers as the guard reads them:
# any letter case, blanks and a missing "]" allowed), numeric colours, and in [Connections], which
# the guard writes whole, only its row keys. Other lines are the user's: kept, not judged.
nv_check_ini_sound() {
    local what=$1 file=$2 report
    [[ -f $file ]] || {
        fail "$what: nv4.ini is gone"
        return
    }
    # (cut first: awk is slow on a line of 100 MB.)
    report=$(LC_ALL=C cut -c 1-1000 "$file" | LC_ALL=C awk '
        function header(line) {
            if (line !~ /^[ \t]*\[/) return ""
            sub(/^[ \t]*\[/, "", line); sub(/\].*/, "", line); sub(/\r$/, "", line)
            gsub(/^[ \t]+|[ \t]+$/, "", line)
            return tolower(line) == "" ? "-" : tolower(line)
        }
        { name = header($0) }
        name != "" { own = (name == "general setup" || name == "connections"); conn = name == "connections"; seen[name] = 1; next }
        conn && !/^[A-Za-z]+[0-9]+=[^\r]*\r?$/ { if (bad++ < 3) print "malformed line " NR ": " $0 }
        own && /^StartColor= ?-?[0-9]+\r?$/ { start = 1 }
        own && /^EndColor= ?-?[0-9]+\r?$/ { end = 1 }
        END {
            if (!seen["general setup"]) print "no [General Setup] section"
            if (!seen["connections"]) print "no [Connections] section"
            if (!start || !end) print "no numeric StartColor and EndColor"
        }')
    [[ -z $report ]] || fail "$what: nv4.ini: $report"
}

# Sleeps for a fraction of a second without starting a process: a read that nothing answers.
nv_pause() {
    if [[ -z ${NV_PAUSE_FD:-} ]]; then
        mkfifo "$NV_TMP/pause" && exec {NV_PAUSE_FD}<>"$NV_TMP/pause"
    fi
    read -r -t "$1" -u "$NV_PAUSE_FD"
}

# Random whole number from 0 to $1 - 1 (up to 2^30), from bash's seeded RANDOM.
nv_random() {
    echo $((((RANDOM << 15) | RANDOM) % $1))
}

# Files in the program's folder that neither the installation nor the guard's own files account for
# (left-over temporary files, for instance).
nv_strays() {
    find "$NV_DIR" -mindepth 1 -maxdepth 1 -printf '%f\n' |
        grep -vxE 'norvale-guard|phonebook\.sample\.conf|nv4\.ini|phonebook\.conf|dialer\.conf|(guard|line)\.sock'
}

# The settings file's encoding of a (plain ASCII) text: each byte XOR a repeating key, as three digits.
nv_encode() {
    local key=KTRW39PPZ82Q text=$1 i out=
    for ((i = 0; i < ${#text}; i++)); do
        printf -v out '%s%03d' "$out" $(($(printf '%d' "'${text:i:1}") ^ $(printf '%d' "'${key:i%12:1}")))
    done
    echo "$out"
}

# nv_authorise FILE NAME...: marks the rows of these entries authorised, as the setup would.
nv_authorise() {
    local file=$1 name row
    shift
    for name in "$@"; do
        row=$(LC_ALL=C grep -aoE "^ConName[0-9]+=$(nv_encode "$name")"$'\r$' "$file" | head -n 1)
        row=${row#ConName}
        row=${row%%=*}
        [[ -n $row ]] || return 1
        sed -i "s/^ConAuth$row=false\r\$/ConAuth$row=true\r/" "$file" || return 1
    done
}

# The checks of locks, of other users and of immutable files need root; CTest counts 77 as skipped.
nv_need_root() {
    if ((EUID != 0)); then
        echo "skipped: $(basename "$0") needs root"
        exit 77
    fi
}
