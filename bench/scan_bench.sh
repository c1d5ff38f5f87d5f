#!/usr/bin/env bash
# Scan throughput against a plain read of the same warm file, in one run.
#   [RUNS=N] bench/scan_bench.sh [ARCHIVE]   (default: generates build/bench/large.olm, about 1 GB)
# Times `cat ARCHIVE > /dev/null` and `parvelle-cli scan ARCHIVE --json` alternately RUNS times
# (default 3; timings on a shared machine are noisy), and prints the best of each with the spread,
# the ratio of the bests, and the scan's peak anonymous memory (heap; pages of the mapped archive
# excluded) next to its budget of 64 MB + 1 KB per item.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/prepare.sh "$@"

runs=${RUNS:-3}
cat "$archive" >/dev/null # warm the page cache
out=$(mktemp)
cat_times=()
scan_times=()
for ((run = 0; run < runs; ++run)); do
    t0=$(now); cat "$archive" >/dev/null; t1=$(now)
    cat_times+=("$(echo "$t1 - $t0" | bc -l)")

    t0=$(now)
    build/parvelle-cli scan "$archive" --json >"$out" &
    pid=$!
    watch_peak_memory "$pid" 0.02
    wait "$pid"
    t1=$(now)
    scan_times+=("$(echo "$t1 - $t0" | bc -l)")
done
items=$(python3 -c "import json,sys; print(sum(f['items'] for f in json.load(open('$out'))['folders']))")
rm -f "$out"

cat_s=$(best "${cat_times[@]}")
scan_s=$(best "${scan_times[@]}")
budget_kb=$((64 * 1024 + items))
printf 'archive            %s (%.1f MB, %d items), %d runs\n' "$archive" "$(echo "$size/1048576" | bc -l)" "$items" "$runs"
printf 'cat > /dev/null    %.3f s best, %.3f s worst  (%.0f MB/s)\n' "$cat_s" "$(worst "${cat_times[@]}")" "$(rate "$cat_s")"
printf 'parvelle-cli scan  %.3f s best, %.3f s worst  (%.0f MB/s)\n' "$scan_s" "$(worst "${scan_times[@]}")" "$(rate "$scan_s")"
printf 'ratio scan/cat     %.2f  (best against best; target: at most 3)\n' "$(echo "$scan_s/$cat_s" | bc -l)"
printf 'per-round ratio    %s\n' "$(round_ratios "${scan_times[*]}" "${cat_times[*]}")"
printf 'peak anon memory   %.1f MB  (budget %.1f MB)\n' "$(echo "$peak_kb/1024" | bc -l)" "$(echo "$budget_kb/1024" | bc -l)"
