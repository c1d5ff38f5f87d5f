# Sourced by the benchmark scripts: builds the release command line and the fixture generator,
# sets `archive` (the first argument, or build/bench/large.olm generated once, about 1 GB) and
# `size` (its bytes), and defines `now` (seconds since the epoch), `best` and `worst` (the least
# and greatest of their arguments) and `rate SECONDS` (the archive's megabytes per second).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target parvelle-cli olmgen >/dev/null
archive=${1:-build/bench/large.olm}
if [ ! -f "$archive" ]; then
    mkdir -p "$(dirname "$archive")"
    echo "generating $archive ..."
    build/tools/olmgen/olmgen large "$archive"
fi
size=$(stat -c %s "$archive")

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -1; }
worst() { printf '%s\n' "$@" | sort -g | tail -1; }
rate() { echo "$size/1048576/$1" | bc -l; }
