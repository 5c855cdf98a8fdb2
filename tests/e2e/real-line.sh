# Sourced after lib.sh by the black-box runs on the real line: the phonebook, the stand-in pppd,
# dialer.conf and a fresh modem emulator for each call.
# shellcheck shell=bash

# real_line ALLOWED...: the real line against the modem emulator at $modem: Provider ($Provider,
# authorised, the default) and Premium ($Premium) in a phonebook only root may change, the stand-in
# pppd, dialer.conf allowing the emulator and the programs given.
real_line() {
    modem=$tmp/modem Provider=0612345678 Premium=0899123456
    printf '[Dialer Defaults]\nModem = %s\nInit2 = ATQ0 V1 E1 S0=0 &C1 &D2\n\n[Dialer Provider]\nPhone = %s\n%s\n\n[Dialer Premium]\nPhone = %s\n' \
        "$modem" "$Provider" $'Username = utente\nPassword = segreto' "$Premium" >"$conf/wvdial.conf"
    chmod 600 "$conf/wvdial.conf"
    standin_pppd "$tmp/pppd"
    printf 'backend=ppp\nphonebook=%s\npppd=%s\nallow=%s\n' "$conf/wvdial.conf" "$tmp/pppd" \
        "$(command -v socat) $(readlink -f "$build/modem-emulator") $*" >"$conf/dialer.conf"
    provider_and_premium "$state/nv4.ini"
}

# new_modem [connect|silent]: a fresh emulator (connect, or $modem_dial) whose commands go to $record,
# its pty open to dialout as udev leaves a serial port; a running guard takes it for root alone. A
# silent one records every dial string and stays in command mode.
modem_pid='' record='' modems=0 modem_dial=connect
new_modem() {
    [[ -n $modem_pid ]] && end_process "$modem_pid"
    rm -f "$modem"
    record=$tmp/modem-$((++modems)).rec
    socat "PTY,link=$modem,raw,echo=0" "EXEC:\"$build/modem-emulator --dial ${1:-$modem_dial} --record $record\"" \
        2>>"$tmp/socat.log" &
    modem_pid=$!
    helper_pids+=("$modem_pid")
    wait_until 5 test -e "$record" -a -e "$modem" || return 1
    chown -L root:dialout "$modem" && chmod 660 "$modem" || return 1
    [[ -z $guard_pid ]] || wait_until 3 eval '[[ $(modem_mode) == 0:*:600 ]]'
}
modem_mode() { stat -L -c %u:%g:%a "$modem"; }
sent() { grep -c "$1" "$record" 2>/dev/null; }
got() { [[ $(sent "$1") -gt 0 ]]; }

# standin_pppd FILE: with no /dev/ppp here, a stand-in named pppd that runs its connect command on
# its device, tells of the link as pppd does (a recorded transcript) and holds the line.
standin_pppd() {
    local transcript
    transcript=$(cd "$(dirname "${BASH_SOURCE[0]}")/../dialer/data/ppp" && pwd)/connected-pap.log
    cat >"$1" <<EOF
#!/bin/bash
[[ -n \${STANDIN_PPPD:-} ]] || STANDIN_PPPD=1 exec -a pppd /bin/bash "\$0" "\$@"
device= connect=
while ((\$#)); do
    case \$1 in
    /*) [[ -z \$device && -c \$1 ]] && device=\$1 ;;
    connect) connect=\$2; shift ;;
    esac
    shift
done
exec <"\$device" >"\$device" || exit 7
eval "\$connect" || { echo "Connect script failed" >&2; exit 8; }
sed -n '/^Serial connection/,/^secondary DNS/p' '$transcript' >&2
trap 'echo "Terminating on signal 15" >&2; exit 5' TERM
while :; do sleep 1; done
EOF
    chmod 755 "$1"
}
