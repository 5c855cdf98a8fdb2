#!/usr/bin/env bash
# lint-test.sh DEB: the built package as lintian and hardening-check see it.
# shellcheck source=tests/e2e/lib.sh
source "$(dirname "$0")/../e2e/lib.sh"
deb=$(readlink -f "$1")
for tool in lintian hardening-check; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/setup.sh)" >&2; exit 1; }
done
tmp=$(mktemp -d "${TMPDIR:-/tmp}/norvale-lint.XXXXXX") && cd "$tmp" || exit 1
trap 'cd / && rm -rf "$tmp"' EXIT
require "there is no $deb" test -f "$deb"
# Every tag shown, overridden ones with their reasons; no override may hide an error.
lintian --info --show-overrides "$deb" 2>&1 | tee lintian.log
check "lintian reports errors or warnings that no override explains" not grep -qE '^[EW]: ' lintian.log
check "an override hides a lintian error" not eval 'lintian --no-override "$deb" 2>&1 | grep -q "^E: "'
# Debian 12's C start files carry no control-flow marks, so no program of it can have them.
dpkg-deb -x "$deb" unpacked &&
    check "hardening-check finds an unhardened program" hardening-check --nocfprotection unpacked/usr/{sbin/norvale-guard,bin/norvale,bin/norvale-line}
finish
