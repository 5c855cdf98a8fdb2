#!/usr/bin/env bash
# Installs what is missing, builds Norvale with its tests and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
cd build
ctest --output-on-failure --timeout 300
