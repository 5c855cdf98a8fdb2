#!/usr/bin/env bash
# badinput.sh BUILD
# norvale-guard starts on broken, huge, strange or unreadable files in its folder. Each time it must
# come up, answer on its line, hang up a call on an unauthorised entry, end on SIGTERM, and leave
# a sound nv4.ini behind, or an unreadable one exactly as it was.
source "$(dirname "$0")/lib.sh" "$1"
nv_need_root
ini=$NV_DIR/nv4.ini
book=$NV_DIR/phonebook.conf
as_nobody=(setpriv --reuid=nobody --regid=nogroup --clear-groups)

# run NAME [COMMAND...]: one start and stop on the folder as prepared. Prints the start-up time
# (until nv4.ini is locked, where root can lock it) and the shut-down time.
run() {
    local name=$1 took ready=
    shift
    [[ $# == 0 && ! -d $ini && ! -p $ini ]] && ready=locked
    nv_start "$@"
    if ! took=$(nv_wait_up $ready); then
        fail "$name: the guard did not come up"
        nv_kill
        return 1
    fi
    nv_check_hangup "$name"
    nv_stop_checked "$name"
    echo "badinput: $name: up in $took s, ended $NV_STOP_SECONDS s after SIGTERM"
}

# A fresh folder on the built-in line.
prepare() {
    nv_folder || exit 1
    nv_conf stage_ms=1
}

# The bytes the file had must all still be there, at its start: the guard adds its sections
# after them.
check_kept() {
    local name=$1 original=$2
    cmp -s -n "$(stat -c %s "$original")" "$original" "$ini" ||
        fail "$name: the original bytes of nv4.ini were not kept"
}

# Every line that the guard does not own (its keys, the [Connections] section it rewrites) is
# still in the file.
check_foreign_lines() {
    local name=$1 original=$2 line missing=0
    while IFS= read -r line; do
        grep -qxF -- "$line" "$ini" || missing=$((missing + 1))
    done < <(LC_ALL=C awk '/^\[ *[Cc]onnections/ { conn = 1; next } /^\[/ { conn = 0 }
                           !conn && !/^(StartColor|EndColor|TopWin|LeftWin)=/' "$original")
    ((missing == 0)) || fail "$name: $missing line(s) of the original nv4.ini are gone"
}

# --- nv4.ini of binary junk
prepare
head -c 65536 /dev/urandom >"$ini"
cp "$ini" "$NV_TMP/junk.ini"
run "binary junk" && nv_check_ini_sound "binary junk" "$ini" && check_kept "binary junk" "$NV_TMP/junk.ini"

# --- nv4.ini of 100 MB (sparse: all zero bytes, one endless line)
prepare
truncate -s 100M "$ini"
run "100 MB nv4.ini" && nv_check_ini_sound "100 MB nv4.ini" "$ini" &&
    { cmp -s -n $((100 << 20)) /dev/zero "$ini" || fail "100 MB nv4.ini: the original bytes were not kept"; }
rm -f "$ini"

# --- every key malformed
prepare
cat >"$NV_TMP/malformed.ini" <<'INI'
;Norvale 4.2 - ini file
[General Setup
StartColor=abc
EndColor=12x34
TopWin=1e400
LeftWin=-99999999999999999999999
a line without an equals sign
=a value without a key
   =   
[]
][
[[[
[Connections]]
ConName0
ConName0=
ConNumber0=-1-2-3
ConAuth0=perhaps
ConPred0=2
SpeedType0=99999999999
SpeedUp0=-inf
SpeedDown0=nan
ConName1=ConName1=ConName1
[General Setup]
StartColor=
INI
printf '\xff\xfe=\xff\r\n[\xe9t\xe9]\r\nk\xe9y=\x80\x81\r\n' >>"$NV_TMP/malformed.ini"
cp "$NV_TMP/malformed.ini" "$ini"
run "malformed keys" && nv_check_ini_sound "malformed keys" "$ini" &&
    check_foreign_lines "malformed keys" "$NV_TMP/malformed.ini"

# --- encoded values whose groups decode out of range
prepare
{
    printf ';Norvale 4.2 - ini file\r\n[General Setup]\r\nStartColor=255\r\nEndColor=65535\r\n[Connections]\r\n'
    printf 'ConName0=999999999999\r\nConNumber0=-99-99-99-\r\nConAuth0=true\r\nConPred0=true\r\n'
    printf 'ConName1=%s\r\nConNumber1=1\r\nConAuth1=true\r\n' "$(printf '7%.0s' {1..3000})"
    printf 'ConName2=12\r\nConNumber2=0000000000000000000\r\nConAuth2=true\r\nConPred2=true\r\n'
    printf 'ConName3=+1e+9-3.5\r\nConNumber3=   \r\nConAuth3=true\r\n'
} >"$NV_TMP/groups.ini"
cp "$NV_TMP/groups.ini" "$ini"
run "out-of-range groups" && nv_check_ini_sound "out-of-range groups" "$ini"

# --- a phonebook of 1000 entries
prepare
for ((i = 1; i <= 1000; i++)); do
    printf '[Dialer Entry %04d]\nPhone = 02%08d\nUsername = user%d\n\n' "$i" "$i" "$i"
done >"$book"
cp "$book" "$NV_TMP/book1000.conf"
if run "1000-entry phonebook"; then
    nv_check_ini_sound "1000-entry phonebook" "$ini"
    rows=$(grep -c '^ConName[0-9]*=' "$ini")
    ((rows == 49)) || fail "1000-entry phonebook: $rows rows in nv4.ini, not the table's 49"
fi
cmp -s "$book" "$NV_TMP/book1000.conf" || fail "1000-entry phonebook: the phonebook changed"
start=$EPOCHREALTIME
nv_start && nv_wait_up >/dev/null && nv_line dial "Entry 0999" >/dev/null && nv_settled_call >/dev/null
echo "badinput: 1000-entry phonebook: a second start and a call on the last entry took $(nv_seconds_since "$start") s"
nv_stop_checked "1000-entry phonebook, second start"

# --- a phonebook whose Inherits go round in circles
prepare
cat >"$book" <<'BOOK'
[Dialer Defaults]
Inherits = Dialer Loop A
Modem = /dev/ttyS0

[Dialer Loop A]
Inherits = Dialer Loop B

[Dialer Loop B]
Inherits = Dialer Loop A

[Dialer Self]
Inherits = Dialer Self
Phone = 0212345678

[Dialer Deep]
Inherits = Dialer Loop B
BOOK
if run "Inherits loop"; then
    nv_check_ini_sound "Inherits loop" "$ini"
    rows=$(grep -c '^ConName[0-9]*=' "$ini")
    ((rows == 5)) || fail "Inherits loop: $rows rows in nv4.ini for the 5 entries (Defaults is one)"
    nv_start && nv_wait_up >/dev/null && nv_check_hangup "Inherits loop" "Loop A"
    nv_stop_checked "Inherits loop, second start"
fi

# --- unreadable files: left exactly as they were
prepare
mkdir "$ini" && echo keep >"$ini/keep"
run "nv4.ini a folder"
[[ -d $ini && $(cat "$ini/keep") == keep ]] || fail "nv4.ini a folder: the folder changed"

prepare
mkfifo "$ini"
run "nv4.ini a FIFO"
[[ -p $ini ]] || fail "nv4.ini a FIFO: it is no longer the FIFO"

prepare
mkdir "$book"
run "phonebook a folder" && nv_check_ini_sound "phonebook a folder" "$ini"
[[ -d $book && -z $(ls -A "$book") ]] || fail "phonebook a folder: the folder changed"

prepare
mkfifo "$book"
run "phonebook a FIFO" && nv_check_ini_sound "phonebook a FIFO" "$ini"
[[ -p $book ]] || fail "phonebook a FIFO: it is no longer the FIFO"

# The guard runs as a user who owns the folder (and its run folder) but may not read the file.
as_nobody_folder() {
    chown nobody "$NV_DIR" && mkdir -m 700 "$NV_RUN" && chown nobody "$NV_RUN"
}

prepare
as_nobody_folder
cp "$NV_TMP/groups.ini" "$ini" && chmod 600 "$ini"
run "nv4.ini unreadable to the user" "${as_nobody[@]}"
cmp -s "$NV_TMP/groups.ini" "$ini" && [[ $(stat -c %U:%a "$ini") == root:600 ]] ||
    fail "nv4.ini unreadable to the user: the file changed"

prepare
as_nobody_folder
cp "$NV_DIR/phonebook.sample.conf" "$book" && chmod 600 "$book"
run "phonebook unreadable to the user" "${as_nobody[@]}" &&
    nv_check_ini_sound "phonebook unreadable to the user" "$ini"
cmp -s "$NV_DIR/phonebook.sample.conf" "$book" && [[ $(stat -c %U:%a "$book") == root:600 ]] ||
    fail "phonebook unreadable to the user: the file changed"

nv_finish
