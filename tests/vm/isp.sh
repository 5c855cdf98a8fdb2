# Sourced by the VM tests that make real calls (inside the VM, as root): an ISP at the far end of
# the modem emulator, and a root writer. Needs tmp, modem, build, User, Password, Near and Far.
# shellcheck shell=bash

# isp_prepare [PPPD OPTION...]: the ISP, another program than the real pppd (which the guard would
# take for a dialler), in a network namespace of its own, asking for PAP with a secrets file of its
# own.
isp_prepare() {
    ip netns add isp && ip -n isp link set lo up || return 1
    cp /usr/sbin/pppd "$tmp/isp-pppd"
    printf '%s * %s *\n' "$User" "$Password" >"$tmp/pap-secrets"
    chmod 600 "$tmp/pap-secrets"
    cat >"$tmp/isp" <<END
#!/bin/sh
exec ip netns exec isp sh -c 'mount --bind $tmp/pap-secrets /etc/ppp/pap-secrets &&
    exec $tmp/isp-pppd notty nodetach auth require-pap noipv6 noccp lcp-echo-interval 0 $* $Far:$Near'
END
    chmod 755 "$tmp/isp"
    mkdir -p /run/lock # pppd's serial locks; a booted system has it
    cp /usr/bin/perl "$tmp/writer"
}

# new_modem NAME: a fresh emulator on $modem that hands a call to the ISP; what it receives from the
# line and sends to it go to $tmp/NAME.in and NAME.out, byte for byte, its commands to NAME.cmd.
new_modem() {
    rm -f "$modem"
    socat "PTY,link=$modem,raw,echo=0" "EXEC:\"$build/modem-emulator --far $tmp/isp --record $tmp/$1.cmd \
--line-in $tmp/$1.in --line-out $tmp/$1.out\"" 2>>"$tmp/socat.log" &
    modem_pid=$!
    wait_until 10 test -e "$modem" -a -e "$tmp/$1.in"
}

# writer TEXT: root takes the line from whatever line discipline holds it (N_TTY again) and writes
# TEXT; refused, it stays a moment, as a dialler that tries again would. A copy of perl, so that
# the guard names it by its own path.
writer() {
    "$tmp/writer" -e 'use Fcntl; sysopen(my $m, $ARGV[0], O_RDWR | O_NOCTTY) or do { sleep 1; die "$!\n" };
        my $tty = pack("i", 0); ioctl($m, 0x5423, $tty) or die "TIOCSETD: $!\n";
        syswrite($m, "$ARGV[1]\r") or die "$!\n"' "$modem" "$1" 2>>"$tmp/writer.log"
}
