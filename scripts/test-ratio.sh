#!/usr/bin/env bash
# test-ratio.sh [REV]: non-blank lines of the tracked test files over those of the code, at REV
# (default HEAD). Counted: *.cpp *.c *.h *.sh *.py *.in *.desktop *.service and scripts starting with
# "#!"; tests under tests/, code under src/ tools/ bench/ fuzz/ scripts/ packaging/ debian/.
set -euo pipefail
cd "$(dirname "$0")/.."
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
git archive "${1:-HEAD}" -- tests src tools bench fuzz scripts packaging $(git ls-tree -d --name-only "${1:-HEAD}" debian) |
    tar -x -C "$tree"

count() {
    (cd "$tree" && find "$@" -type f 2>/dev/null) | while IFS= read -r path; do
        case $path in
        *.cpp | *.c | *.h | *.sh | *.py | *.in | *.desktop | *.service) echo "$path" ;;
        *) if [[ $(head -c 2 "$tree/$path" | tr -d '\0') == '#!' ]]; then echo "$path"; fi ;;
        esac
    done | (cd "$tree" && xargs -r -d '\n' cat) | grep -c '[^[:space:]]' || true
}

tests=$(count tests)
code=$(count src tools bench fuzz scripts packaging debian)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d / code %d = %.3f\n", t, c, t / c }'
