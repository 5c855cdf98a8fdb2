#!/usr/bin/env bash
# spares-machine-test.sh BUILD SOURCE: the package build's own test step (debian/rules,
# override_dh_auto_test) run on this build's tests, while another program's call waits: the real chat
# on the modem emulator, dialled and waiting for CONNECT. It must be alive afterwards and its line as
# it was. Then one test labelled machine, the installed guard on the real line, must end that same chat.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
build=$1 source=$2 chat=/usr/sbin/chat
for tool in socat make dpkg-architecture "$chat"; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done
tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-spares.XXXXXX") || exit 1
trap 'for pid in ${chat_pid:-} ${modem_pid:-}; do end_process "$pid"; done; rm -rf "$tmp"' EXIT
trap 'echo "interrupted" >&2; exit 130' INT TERM HUP

# The emulator answers ATZ and records the dial, then stays silent: chat waits an hour for CONNECT.
modem=$tmp/modem
socat "PTY,link=$modem,raw,echo=0" "EXEC:\"$build/modem-emulator --dial silent --record $tmp/record\"" 2>"$tmp/socat.log" &
modem_pid=$!
require "the modem emulator does not answer" wait_until 5 test -e "$modem" -a -e "$tmp/record"
"$chat" -t 3600 '' ATZ OK ATDT0899123456 CONNECT '' <"$modem" >"$modem" &
chat_pid=$!
require "chat does not dial" wait_until 10 grep -qx ATDT0899123456 "$tmp/record"
line() { stat -L -c '%U:%G %a' "$modem" && cat "$tmp/record"; }
before=$(line)
waiting() { alive "$chat_pid" && [[ $(readlink "/proc/$chat_pid/exe") == "$chat" ]]; }

# obj-<triplet>, the build folder of a package build, leads to this build's tests; ctest's own records
# go there, not into this build, whose ctest may be running this script.
mkdir -p "$tmp/package/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)" &&
    printf 'subdirs("%s")\n' "$build" >"$tmp/package/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)/CTestTestfile.cmake"
started=$(now_ms)
(cd "$tmp/package" && unset MAKEFLAGS MAKELEVEL &&
    DEB_BUILD_OPTIONS=parallel=2 make -f "$source/debian/rules" override_dh_auto_test) >"$tmp/rules.log" 2>&1
status=$?
summary=$(grep -E '^[0-9]+% tests passed' "$tmp/rules.log")
echo "the package build's tests: ${summary:-no summary} in $((($(now_ms) - started) / 1000)) s"
check "the package build's tests fail: $(grep -A30 'tests failed out of' "$tmp/rules.log")" test "$status" = 0
check "the package build ran no test" grep -qE 'out of [1-9]' <<<"$summary"
check "the package build's tests ended the waiting chat" waiting
check "the package build's tests touched the chat's line: $(line)" eval '[[ $(line) == "$before" ]]'

# The control: the same chat is ended by a guard on the real line, so the checks above can fail.
ctest --test-dir "$build" -L '^machine$' -R '^e2e-evasion$' >"$tmp/control.log" 2>&1
check "no test labelled machine runs a guard on the real line" grep -qE 'out of 1$' "$tmp/control.log"
eventually 10 "a guard on the real line left the chat dialling" not waiting
((failures == 0)) || tail -n 30 "$tmp/rules.log" >&2
finish
