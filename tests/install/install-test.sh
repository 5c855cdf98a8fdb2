#!/usr/bin/env bash
# install-test.sh BUILD SOURCE PREFIX: cmake --install with the prefix /usr staged in a temporary
# folder (DESTDIR): the FHS layout, nothing written outside it, no service enabled or started.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
[[ $3 == /usr ]] || { echo "SKIP: the build is configured for the prefix $3; this test checks /usr" >&2; exit 77; }
e2e_start "$1" no-desktop
source=$2 root=$tmp/root
launcher=$root/usr/share/applications/norvale.desktop
autostarter=$root/etc/xdg/autostart/norvale.desktop
policy=$root/usr/share/polkit-1/actions/org.norvale.guard.policy
unit=$root/lib/systemd/system/norvale-guard.service
pages=(man1/norvale.1 man1/norvale-line.1 man5/norvale-dialer.conf.5 man8/norvale-guard.8)

# Exactly the programs (the display when built), the read-only files, the help's type, the man pages,
# the administrator's settings, the desktop entries, the unit and the policy, each with its mode.
programs=("$sbin/norvale-guard" "$bin/norvale-line")
[[ -e $build/norvale ]] && programs+=("$bin/norvale")
assets=(start.mp3 connected.mp3 disconnected.mp3 error.mp3 norvale.hlp norvale-help.xml norvale-tray.png palette.png)
expected=$({
    printf '%s 755\n' "${programs[@]}"
    printf '%s 644\n' "${assets[@]/#/$share/}" "$share/phonebook.sample.conf" "${pages[@]/#/$root/usr/share/man/}" \
        "$root/usr/share/mime/packages/norvale-help.xml" "$root/etc/norvale/dialer.conf" \
        "$launcher" "$autostarter" "$policy" "$unit"
} | sort)
actual=$(find "$root" -type f -printf '%p %m\n' | sort)
check "installed files or their modes differ:"$'\n'"$(diff <(echo "$expected") <(echo "$actual"))" test "$actual" = "$expected"
for asset in "${assets[@]}"; do
    cmp -s "$source/assets/$asset" "$share/$asset" || fail "$asset differs from the shipped one"
done
cmp -s "$source/assets/phonebook.conf" "$share/phonebook.sample.conf" || fail "the sample phonebook differs"
check "the data folder is not mode 755" mode_is "$share" 755
check "the shipped dialer.conf sets something" not grep -qv -e '^#' -e '^[[:space:]]*$' "$root/etc/norvale/dialer.conf"

for entry in "$launcher" "$autostarter"; do
    [[ -f $entry ]] || continue
    # Warnings count too: the desktops skip or misread entries they warn about.
    report=$(desktop-file-validate "$entry" 2>&1)
    [[ $? == 0 && -z $report ]] || fail "desktop-file-validate: $report"
    grep -qxF "Exec=/usr/bin/norvale" "$entry" || fail "$entry does not start /usr/bin/norvale"
done

# What the unit does is tested under systemd (vm-systemd); here, that it starts the installed guard.
grep -qx "ExecStart=/usr/sbin/norvale-guard" "$unit" || fail "the unit does not start /usr/sbin/norvale-guard"
# verify wants ExecStart on this machine: a copy starting the staged guard (--root= finds no units).
sed "s|^ExecStart=.*|ExecStart=$sbin/norvale-guard|" "$unit" >"$tmp/norvale-guard.service"
# It warns about a bad value or key and still ends with 0; the man page is not installed here.
report=$(systemd-analyze verify --man=no "$tmp/norvale-guard.service" 2>&1)
[[ $? == 0 && -z $report ]] || fail "systemd-analyze verify: $report"

# The administrators' action, kept for a while once given; nothing to exec.
policy_says=$(xmllint --xpath 'concat(count(//action), " ", //action/@id, " ", //allow_any, " ", //allow_inactive,
    " ", //allow_active, " ", count(//annotate))' "$policy" 2>&1)
check "the policy says $policy_says" test "$policy_says" = "1 org.norvale.guard.admin no no auth_admin_keep 0"

# The run folder's modes and guard.pid are the package test's.
start_guard
socket=$run/guard.sock

# A second guard, with the same run folder or another one, refuses and leaves the first one's socket.
before=$(stat -c "%i %z" "$socket" 2>/dev/null)
for other in "$run" "$tmp/run2"; do
    check "a second guard with run folder ${other##*/} does not end with status 1" \
        exits_with 1 "$tmp/second.${other##*/}.log" timeout 10 "$sbin/norvale-guard" --folder "$state" \
        --config-dir "$conf" --run-dir "$other"
    [[ -S $socket && $(stat -c "%i %z" "$socket") == "$before" ]] || fail "the second guard touched guard.sock"
    answer=$(guard_requests 0 '{"v":1,"id":7,"op":"counters"}' 2>&1)
    [[ $answer == *'"id":7'* && $answer == *'"ok":true'* ]] || fail "the first guard answers '$answer' on guard.sock"
    check "the first guard's line does not answer" quiet line status
done

terminate guard_pid "the guard"
((failures == 0)) || cat "$tmp"/second.*.log >&2
finish
