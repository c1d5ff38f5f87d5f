# Sourced by the benchmark scripts: builds the release command line and the fixture generator,
# sets `archive` (the first argument, or build/bench/large.olm generated once, about 1 GB) and
# `size` (its bytes), and defines `now` (seconds since the epoch), `best` and `worst` (the least
# and greatest of their arguments), `rate SECONDS` (the archive's megabytes per second) and
# `round_ratios "JOB TIMES" "REFERENCE TIMES"` (the median and range of the per-round ratios),
# `round_lines "NAME TIMES"...` (each round's times, one line per round) and
# `watch_peak_memory PID SECONDS` (raises `peak_kb` to the process's anonymous memory until it
# ends).
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

# Each round times the job and its reference back to back, so their ratio is taken in the same
# state of a shared machine (whose page-cache writes are at times three times slower than at
# others); the best of each alone may come from different hours.
round_ratios() {
    paste <(tr ' ' '\n' <<<"$1") <(tr ' ' '\n' <<<"$2") | awk '{ print $1 / $2 }' | sort -g |
        awk '{ r[NR] = $1 } END {
            m = (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2
            printf "%.2f median (rounds: %.2f to %.2f)", m, r[1], r[NR] }'
}

# One line per round with each job's time in it: the spread of a shared machine shows in them.
round_lines() {
    local names=() columns=() arg
    for arg in "$@"; do
        names+=("${arg%% *}")
        columns+=("${arg#* }")
    done
    local rounds
    rounds=$(wc -w <<<"${columns[0]}")
    local r c
    for ((r = 1; r <= rounds; r++)); do
        printf '  round %-2d' "$r"
        for ((c = 0; c < ${#names[@]}; c++)); do
            printf '  %s %.3f s' "${names[c]}" "$(cut -d' ' -f"$r" <<<"${columns[c]}")"
        done
        printf '\n'
    done
}

# Samples the process's anonymous memory (heap; pages of mapped files excluded) every SECONDS
# until it ends, keeping the largest in `peak_kb`. Shell builtins only: starting awk and sleep
# dozens of times a second took a measurable share of a two-core machine from the job timed.
peak_kb=0
exec {watch_pause}<> <(:)
watch_peak_memory() {
    local pid=$1 interval=$2 key kb
    while kill -0 "$pid" 2>/dev/null; do
        while read -r key kb _; do
            [ "$key" = "RssAnon:" ] && [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
        done 2>/dev/null <"/proc/$pid/status" || true
        read -r -t "$interval" -u "$watch_pause" _ || true
    done
}
