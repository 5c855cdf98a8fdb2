#!/usr/bin/env bash
# Installs what is missing, the tests' packages too, builds Norvale with its tests and benchmarks and
# runs the whole test suite. On a machine of its own: the tests labelled machine end every dialling
# process on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DNORVALE_BENCH=ON >/dev/null
cmake --build build -j2
(cd build && ctest --output-on-failure --timeout 300)
# Each fuzzer, built with clang and its sanitizers, runs for a few seconds from the committed seeds.
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DNORVALE_FUZZ=ON \
  -DNORVALE_BENCH=OFF >/dev/null
cmake --build build-fuzz -j2 --target fuzzers
cd build-fuzz
ctest -L fuzz --output-on-failure --timeout 300
