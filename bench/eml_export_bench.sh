#!/usr/bin/env bash
# EML export against a plain copy of the same archive.
#   [RUNS=N] bench/eml_export_bench.sh [ARCHIVE]   (default: generates build/bench/large.olm, about 1 GB)
# Times `cp ARCHIVE` and `parvelle-cli convert ARCHIVE --to eml`, each into a fresh folder next to
# the archive and each including the `sync` that puts its bytes on disk, alternately RUNS times
# (default 3: the disk of a shared machine is noisy), then prints the best of each with the worst,
# the ratio of the bests and the number and size of the files written. Each round also times a
# plain loop writing as many files of the same average size into as many folders
# (files_write_bench, with its `sync`): what writing the files costs here without reading,
# parsing or encoding anything.
# On ext4 without a journal every new file first skips the inodes deleted in the last minute (six
# minutes while their table blocks are not yet written back), so nothing is deleted until all runs
# are done, and a benchmark started right after the clean-up of another run (or of a test suite)
# measures that scan rather than the export: leave a few minutes between benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/prepare.sh "$@"
cmake --build build -j"$(nproc)" --target files_write_bench >/dev/null
runs=${RUNS:-3}
work=$(mktemp -d "$(dirname "$archive")/eml-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat "$archive" >/dev/null # warm the page cache
sync

cp_times=()
eml_times=()
floor_times=()
for ((run = 1; run <= runs; run++)); do
    t0=$(now)
    cp "$archive" "$work/copy$run.olm"
    sync
    t1=$(now)
    cp_times+=("$(echo "$t1 - $t0" | bc -l)")

    t0=$(now)
    build/parvelle-cli convert "$archive" --to eml --out "$work/eml$run" >/dev/null
    sync
    t1=$(now)
    eml_times+=("$(echo "$t1 - $t0" | bc -l)")

    if [ "$run" = 1 ]; then
        files=$(find "$work/eml1" -type f -name '*.eml' | wc -l)
        others=$(find "$work/eml1" -type f ! -name '*.eml' | wc -l)
        bytes=$(find "$work/eml1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }')
        folders=$(find "$work/eml1" -mindepth 1 -type d | wc -l)
    fi
    t0=$(now)
    build/bench/files_write_bench "$work/floor$run" "$files" "$((bytes / (files > 0 ? files : 1)))" \
        "$folders"
    sync
    t1=$(now)
    floor_times+=("$(echo "$t1 - $t0" | bc -l)")
done

cp_s=$(best "${cp_times[@]}")
eml_s=$(best "${eml_times[@]}")
printf 'archive              %s (%.1f MB), %d run(s)\n' "$archive" "$(echo "$size/1048576" | bc -l)" "$runs"
printf 'cp                   %.3f s best, %.3f s worst  (%.0f MB/s)\n' "$cp_s" \
    "$(worst "${cp_times[@]}")" "$(rate "$cp_s")"
printf 'convert --to eml     %.3f s best, %.3f s worst  (%.0f MB/s of archive)\n' "$eml_s" \
    "$(worst "${eml_times[@]}")" "$(rate "$eml_s")"
printf 'ratio eml/cp         %.2f  (best against best; target: at most 1.5)\n' \
    "$(echo "$eml_s/$cp_s" | bc -l)"
printf 'per-round ratio      %s\n' "$(round_ratios "${eml_times[*]}" "${cp_times[*]}")"
round_lines "cp ${cp_times[*]}" "eml ${eml_times[*]}" "plain-writes ${floor_times[*]}"
printf 'written              %d EML files, %.1f MB; %d other files\n' "$files" "$(echo "$bytes/1048576" | bc -l)" "$others"
floor_s=$(best "${floor_times[@]}")
printf 'plain file writes    %.3f s best, %.3f s worst: ratio to cp %s\n' "$floor_s" \
    "$(worst "${floor_times[@]}")" "$(round_ratios "${floor_times[*]}" "${cp_times[*]}")"
