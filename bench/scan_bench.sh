#!/usr/bin/env bash
# Scan throughput against a plain read of the same warm file, in one run.
#   bench/scan_bench.sh [ARCHIVE]      (default: generates build/bench/large.olm, about 1 GB)
# Prints the time of `cat ARCHIVE > /dev/null`, the time of `parvelle-cli scan ARCHIVE --json`,
# their ratio, and the scan's peak anonymous memory (heap; pages of the mapped archive excluded)
# next to its budget of 64 MB + 1 KB per item.
set -euo pipefail
cd "$(dirname "$0")/.."
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
cat "$archive" >/dev/null # warm the page cache
t0=$(now); cat "$archive" >/dev/null; t1=$(now)
cat_s=$(echo "$t1 - $t0" | bc -l)

out=$(mktemp)
peak_kb=0
t0=$(now)
build/parvelle-cli scan "$archive" --json >"$out" &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
    kb=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    [ -n "$kb" ] && [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
    sleep 0.02
done
wait "$pid"
t1=$(now)
scan_s=$(echo "$t1 - $t0" | bc -l)
items=$(python3 -c "import json,sys; print(sum(f['items'] for f in json.load(open('$out'))['folders']))")
rm -f "$out"

budget_kb=$((64 * 1024 + items))
printf 'archive            %s (%.1f MB, %d items)\n' "$archive" "$(echo "$size/1048576" | bc -l)" "$items"
printf 'cat > /dev/null    %.3f s  (%.0f MB/s)\n' "$cat_s" "$(echo "$size/1048576/$cat_s" | bc -l)"
printf 'parvelle-cli scan  %.3f s  (%.0f MB/s)\n' "$scan_s" "$(echo "$size/1048576/$scan_s" | bc -l)"
printf 'ratio scan/cat     %.2f  (target: at most 3)\n' "$(echo "$scan_s/$cat_s" | bc -l)"
printf 'peak anon memory   %.1f MB  (budget %.1f MB)\n' "$(echo "$peak_kb/1024" | bc -l)" "$(echo "$budget_kb/1024" | bc -l)"
