#!/usr/bin/env bash
# EML export against a plain copy of the same archive, in one run.
#   bench/eml_export_bench.sh [ARCHIVE]      (default: generates build/bench/large.olm, about 1 GB)
# Prints the time of `cp ARCHIVE` and of `parvelle-cli convert ARCHIVE --to eml`, both into a
# fresh folder next to the archive and both including the `sync` that puts their bytes on disk,
# then their ratio and the number and size of the files written.
# On ext4 without a journal every new file first skips the inodes deleted in the last minute (six
# minutes while their table blocks are not yet written back), so a run started right after the
# clean-up of another run measures that scan rather than the export: leave a few minutes between
# runs.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/prepare.sh "$@"
work=$(mktemp -d "$(dirname "$archive")/eml-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
cat "$archive" >/dev/null # warm the page cache
sync

t0=$(now)
cp "$archive" "$work/copy.olm"
sync
t1=$(now)
cp_s=$(echo "$t1 - $t0" | bc -l)
rm -f "$work/copy.olm"
sync

t0=$(now)
build/parvelle-cli convert "$archive" --to eml --out "$work/eml" >/dev/null
sync
t1=$(now)
eml_s=$(echo "$t1 - $t0" | bc -l)
files=$(find "$work/eml" -type f -name '*.eml' | wc -l)
others=$(find "$work/eml" -type f ! -name '*.eml' | wc -l)
bytes=$(du -sb "$work/eml" | cut -f1)

printf 'archive              %s (%.1f MB)\n' "$archive" "$(echo "$size/1048576" | bc -l)"
printf 'cp                   %.3f s  (%.0f MB/s)\n' "$cp_s" "$(echo "$size/1048576/$cp_s" | bc -l)"
printf 'convert --to eml     %.3f s  (%.0f MB/s of archive)\n' "$eml_s" "$(echo "$size/1048576/$eml_s" | bc -l)"
printf 'ratio eml/cp         %.2f  (target: at most 1.5)\n' "$(echo "$eml_s/$cp_s" | bc -l)"
printf 'written              %d EML files, %.1f MB; %d other files\n' "$files" "$(echo "$bytes/1048576" | bc -l)" "$others"
