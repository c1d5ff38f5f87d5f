#!/usr/bin/env bash
# Runs the desktop application on the offscreen platform with the bundled sample archive and
# saves a PNG of each window it passes through.
#
#   tools/screenshots.sh [OUTPUT_FOLDER]      (default: build-ui/screenshots)
#
# BUILD_DIR names the build folder (default build-ui); it is configured when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-ui}
out=${1:-$build/screenshots}
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPARVELLE_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 --target parvelle-screenshots olmgen
archive=samples/sample.olm
if [ ! -f "$archive" ]; then
    archive="$build/sample.olm"
    "$build/tools/olmgen/olmgen" sample "$archive"
fi
mkdir -p "$out"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
QT_QPA_PLATFORM=offscreen "$build/parvelle-screenshots" "$archive" "$out"
