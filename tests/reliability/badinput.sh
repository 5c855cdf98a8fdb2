#!/usr/bin/env bash
# badinput.sh BUILD: norvale-guard on broken, huge, strange or unreadable files must come up, hang up
# an unauthorised call, end on SIGTERM, and leave a sound nv4.ini, or an unreadable one as it was.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
e2e_start "$1" bare
need_root
ini=$state/nv4.ini
book=$state/phonebook.conf

# [also=ENTRY] run NAME [COMMAND...]: one start and stop on the folder as prepared, the guard run
# through COMMAND; it hangs up ENTRY too, and leaves a sound nv4.ini if it leaves a file.
run() {
    local name=$1
    shift
    start_guard "$@"
    hung_up "Premium 899" 0899123456
    [[ -z ${also:-} ]] || hung_up "$also"
    terminate guard_pid "$name: the guard" || return
    [[ ! -f $ini ]] || ini_sound "$name"
}

# As the guard leaves it: both sections (headers read as the guard does), numeric colours, only row
# keys in [Connections]; other lines are the user's. (cut first: awk is slow on a line of 100 MB.)
ini_sound() {
    report=$(cut -c 1-1000 "$ini" | awk '
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
    check "$1: nv4.ini is sound: $report" test -z "$report"
}

kept() { check "$1: the original bytes of nv4.ini were kept" cmp -s -n "$(stat -c %s "$2")" "$2" "$ini"; }

bare_folder
head -c 65536 /dev/urandom >"$ini"
cp "$ini" "$tmp/junk.ini"
run "binary junk" && kept "binary junk" "$tmp/junk.ini"

# Sparse: one endless line of zero bytes.
bare_folder
truncate -s 100M "$ini"
truncate -s 100M "$tmp/zero.ini"
run "100 MB nv4.ini" && kept "100 MB nv4.ini" "$tmp/zero.ini"
rm -f "$ini" "$tmp/zero.ini"

bare_folder
cat >"$tmp/malformed.ini" <<'INI'
;Norvale 4.2 - ini file
[General Setup
StartColor=abc
EndColor=12x34
TopWin=1e400
LeftWin=-99999999999999999999999
a line without an equals sign
=a value without a key
[]
[Connections]]
ConName0
ConName0=
ConNumber0=-1-2-3
ConAuth0=perhaps
ConPred0=2
SpeedType0=99999999999
SpeedUp0=-inf
ConName1=ConName1=ConName1
[General Setup]
StartColor=
INI
printf '\xff\xfe=\xff\r\n[\xe9t\xe9]\r\nk\xe9y=\x80\x81\r\n' >>"$tmp/malformed.ini"
cp "$tmp/malformed.ini" "$ini"
if run "malformed keys"; then
    missing=$(awk '/^\[ *[Cc]onnections/ { conn = 1; next } /^\[/ { conn = 0 }
        !conn && !/^(StartColor|EndColor|TopWin|LeftWin)=/' "$tmp/malformed.ini" | grep -cvxFf "$ini")
    check "malformed keys: $missing line(s) of the original nv4.ini are gone" test "$missing" = 0
fi

bare_folder
{
    printf ';Norvale 4.2 - ini file\r\n[General Setup]\r\nStartColor=255\r\nEndColor=65535\r\n[Connections]\r\n'
    printf 'ConName0=999999999999\r\nConNumber0=-99-99-99-\r\nConAuth0=true\r\nConPred0=true\r\n'
    printf 'ConName1=%s\r\nConNumber1=1\r\nConAuth1=true\r\n' "$(printf '7%.0s' {1..3000})"
    printf 'ConName2=12\r\nConNumber2=0000000000000000000\r\nConAuth2=true\r\nConPred2=true\r\n'
    printf 'ConName3=+1e+9-3.5\r\nConNumber3=   \r\nConAuth3=true\r\n'
} >"$tmp/groups.ini"
cp "$tmp/groups.ini" "$ini"
run "out-of-range groups"

# 1000 entries fill the table's 49 rows; the entries past them are guarded too.
bare_folder
for ((i = 1; i <= 1000; i++)); do
    printf '[Dialer Entry %04d]\nPhone = 02%08d\nUsername = user%d\n\n' "$i" "$i" "$i"
done >"$book"
cp "$book" "$tmp/book1000.conf"
also="Entry 0999" run "1000-entry phonebook" &&
    check "1000-entry phonebook: nv4.ini has the table's 49 rows" test "$(grep -c '^ConName[0-9]*=' "$ini")" = 49
check "1000-entry phonebook: the phonebook is unchanged" cmp -s "$book" "$tmp/book1000.conf"

# Unreadable files, left as they were: FILE, what it is made, the test it must pass after.
unreadable=(
    "$ini" "mkdir $ini && echo keep >$ini/keep" "test -d $ini -a keep = \$(cat $ini/keep)"
    "$ini" "mkfifo $ini" "test -p $ini"
    "$book" "mkdir $book" "test -d $book -a -z \"\$(ls -A $book)\""
    "$book" "mkfifo $book" "test -p $book"
)
for ((i = 0; i < ${#unreadable[@]}; i += 3)); do
    bare_folder
    eval "${unreadable[i + 1]}"
    name=${unreadable[i + 1]//$state\//}
    run "$name"
    check "$name: it is left as it was" eval "${unreadable[i + 2]}"
done

# The guard as a user who owns the folder and its run folder but may not read the file.
for file in "$ini" "$book"; do
    bare_folder
    chown "$Nobody" "$state" && mkdir -m 700 "$state/private" && chown "$Nobody" "$state/private"
    cp "$([[ $file == "$ini" ]] && echo "$tmp/groups.ini" || echo "$share/phonebook.sample.conf")" "$file"
    chmod 600 "$file"
    cp -p "$file" "$tmp/before"
    run "${file##*/} unreadable to the guard's user" as_user "$Nobody"
    check "${file##*/} unreadable to the guard's user: it is left as it was" \
        eval "cmp -s '$tmp/before' '$file' && [[ \$(stat -c %U:%a '$file') == root:600 ]]"
done

# A sticky folder open to all on PATH: anyone may add a pkcheck there, which root would run.
bare_folder && mkdir -m 1777 "$tmp/sticky" && start_guard env PATH="$tmp/sticky:$PATH"
check "a sticky folder open to all is left out of PATH" grep -q "sticky left out of PATH" "$tmp/guard.log"
terminate guard_pid "the guard with a sticky folder on PATH"
finish
