#!/usr/bin/env bash
# Builds Parvelle with address and undefined-behaviour sanitizers and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/bootstrap.sh
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVELLE_SANITIZE=ON \
    -DPARVELLE_BENCH=OFF >/dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
cd build-test && ctest --output-on-failure -j"$(nproc)" "$@"
