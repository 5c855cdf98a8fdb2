#!/usr/bin/env bash
# Installs what is missing, builds Norvale and starts it on the built-in simulated line.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DNORVALE_BENCH=OFF >/dev/null
cmake --build build -j2 --target norvale norvale-line
exec ./build/norvale "$@"
