# Sourced by the benchmark scripts: builds the release command line and the fixture generator,
# and sets `archive` (the first argument, or build/bench/large.olm generated once, about 1 GB)
# and `size` (its bytes).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target parvelle-cli olmgen >/dev/null
archive=${1:-build/bench/large.olm}
if [ ! -f "$archive" ]; then
    mkdir -p "$(dirname "$archive")"
    echo "generating $archive ..."
    build/tools/olmgen/olmgen large "$archive"
fi
size=$(stat -c %s "$archive")
