#!/usr/bin/env bash
# Builds and runs every benchmark of the project, shows their own output as it comes, and ends with
# one table of all figures against their targets. Exit status 1 when a target was missed.
# usage: bench/run-all.sh [BUILD_DIR]   (default: build; CPU is measured over 60 s per phase)
set -uo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$source/build}")
benchmarks=(bench_controls bench_settings bench_guard dialer_simulated_bench bench_dialer_ppp bench_modem bench_fence bench_app)

cmake --build "$build" -j2 --target "${benchmarks[@]}" >/dev/null || {
    echo "the benchmarks did not build (is $build configured with NORVALE_BENCH on?)" >&2
    exit 2
}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
run() {
    echo "== $*"
    "$@" 2>&1 | tee -a "$log" | grep -v '^| '
}
QT_QPA_PLATFORM=offscreen run "$build/bench_controls"
run "$build/bench_settings"
run "$build/bench_guard"
run "$build/dialer_simulated_bench" 60 0
run "$build/bench_dialer_ppp" 50
run "$build/bench_modem" 50
run "$build/bench_fence" 50
run "$build/bench_app" 60 7

echo
echo "Norvale benchmarks, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -r)"
echo "| measure | figure | target | |"
echo "|---|---|---|---|"
grep '^| ' "$log"
! grep -q '^| .* | MISSED |$' "$log"
