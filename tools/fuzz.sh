#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
# Targets: every fuzz/*_fuzz.cpp (zip_walk_fuzz, markup_fuzz, pst_reader_fuzz, ...). Crashes,
# leaks and sanitizer reports stop the run and leave the input in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPARVELLE_FUZZ=ON -DPARVELLE_SANITIZE=ON -DPARVELLE_TESTS=OFF -DPARVELLE_BENCH=OFF \
    -DPARVELLE_GUI=OFF >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]}"
mkdir -p build-fuzz/artifacts
for t in "${targets[@]}"; do
    corpus=build-fuzz/corpus/$t
    mkdir -p "$corpus"
    [ -d "fuzz/seeds/$t" ] && cp -n fuzz/seeds/"$t"/* "$corpus"/ 2>/dev/null || true
    echo "== $t for ${seconds}s"
    "build-fuzz/fuzz/$t" -max_total_time="$seconds" -artifact_prefix=build-fuzz/artifacts/ \
        -print_final_stats=1 "$corpus"
done
