#!/usr/bin/env bash
# Conversion throughput against a plain copy of the same warm file.
#   [RUNS=N] bench/convert_bench.sh [ARCHIVE]   (default: generates build/bench/large.olm, about 1 GB)
# Times `cp ARCHIVE` into the output folder and `parvelle-cli convert ARCHIVE --to pst --out DIR`
# (one PST per account), each followed by a sync of what it wrote, alternately RUNS times
# (default 3: the disk of a shared machine is noisy, a copy of the same file has taken anything
# from 1 to 2.7 s within minutes), and prints the best of each with the worst, the ratio of the
# bests, the bytes written and the conversion's peak anonymous memory (heap; pages of the mapped
# archive excluded).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/prepare.sh "$@"
runs=${RUNS:-3}
work=$(mktemp -d "${TMPDIR:-/tmp}/parvelle-convert-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat "$archive" >/dev/null # warm the page cache
cp_times=()
convert_times=()
status=0
for ((run = 1; run <= runs; run++)); do
    rm -rf "$work/pst"
    sync
    t0=$(now)
    cp "$archive" "$work/copy.olm"
    sync -f "$work"
    t1=$(now)
    cp_times+=("$(echo "$t1 - $t0" | bc -l)")
    rm -f "$work/copy.olm"
    sync # the copy's pages are not written back during the conversion

    t0=$(now)
    build/parvelle-cli convert "$archive" --to pst --out "$work/pst" >"$work/report.txt" &
    pid=$!
    watch_peak_memory "$pid" 0.05
    wait "$pid" || status=$?
    sync -f "$work"
    t1=$(now)
    convert_times+=("$(echo "$t1 - $t0" | bc -l)")
done
written=$(du -cb "$work"/pst/*.pst | tail -1 | cut -f1)

cp_s=$(best "${cp_times[@]}")
convert_s=$(best "${convert_times[@]}")
printf 'archive              %s (%.1f MB), %d run(s)\n' "$archive" "$(echo "$size/1048576" | bc -l)" "$runs"
printf 'cp                   %.3f s best, %.3f s worst  (%.0f MB/s)\n' "$cp_s" \
    "$(worst "${cp_times[@]}")" "$(rate "$cp_s")"
printf 'parvelle-cli convert %.3f s best, %.3f s worst  (%.0f MB/s of archive; exit %d)\n' \
    "$convert_s" "$(worst "${convert_times[@]}")" "$(rate "$convert_s")" "$status"
printf 'PST bytes written    %.1f MB\n' "$(echo "$written/1048576" | bc -l)"
printf 'ratio convert/cp     %.2f  (best against best; target: at most 2)\n' \
    "$(echo "$convert_s/$cp_s" | bc -l)"
printf 'per-round ratio      %s\n' "$(round_ratios "${convert_times[*]}" "${cp_times[*]}")"
round_lines "cp ${cp_times[*]}" "convert ${convert_times[*]}"
printf 'peak anon memory     %.1f MB\n' "$(echo "$peak_kb/1024" | bc -l)"
tail -1 "$work/report.txt"
