#!/usr/bin/env bash
# Conversion throughput against a plain copy of the same warm file, in one run.
#   bench/convert_bench.sh [ARCHIVE]   (default: generates build/bench/large.olm, about 1 GB)
# Prints the time of `cp ARCHIVE` into the output folder, the time of
# `parvelle-cli convert ARCHIVE --to pst --out DIR` (one PST per account), their ratio, the bytes
# written and the conversion's peak anonymous memory (heap; pages of the mapped archive excluded).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/prepare.sh "$@"
work=$(mktemp -d "${TMPDIR:-/tmp}/parvelle-convert-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
cat "$archive" >/dev/null # warm the page cache
t0=$(now); cp "$archive" "$work/copy.olm"; sync -f "$work"; t1=$(now)
cp_s=$(echo "$t1 - $t0" | bc -l)
rm -f "$work/copy.olm"
sync # the copy's pages are not written back during the conversion

# The memory is sampled with shell builtins only: starting a process (awk, sleep) twenty times a
# second took a measurable share of a two-core machine from the conversion being timed.
exec {pause}<> <(:)
peak_kb=0
t0=$(now)
build/parvelle-cli convert "$archive" --to pst --out "$work/pst" >"$work/report.txt" &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
    while read -r key kb _; do
        [ "$key" = "RssAnon:" ] && [ "$kb" -gt "$peak_kb" ] && peak_kb=$kb
    done 2>/dev/null <"/proc/$pid/status" || true
    read -r -t 0.05 -u "$pause" _ || true
done
status=0
wait "$pid" || status=$?
sync -f "$work"
t1=$(now)
convert_s=$(echo "$t1 - $t0" | bc -l)
written=$(du -cb "$work"/pst/*.pst | tail -1 | cut -f1)

printf 'archive              %s (%.1f MB)\n' "$archive" "$(echo "$size/1048576" | bc -l)"
printf 'cp                   %.3f s  (%.0f MB/s)\n' "$cp_s" "$(echo "$size/1048576/$cp_s" | bc -l)"
printf 'parvelle-cli convert %.3f s  (%.0f MB/s of archive; exit %d)\n' "$convert_s" \
    "$(echo "$size/1048576/$convert_s" | bc -l)" "$status"
printf 'PST bytes written    %.1f MB\n' "$(echo "$written/1048576" | bc -l)"
printf 'ratio convert/cp     %.2f  (target: at most 2)\n' "$(echo "$convert_s/$cp_s" | bc -l)"
printf 'peak anon memory     %.1f MB\n' "$(echo "$peak_kb/1024" | bc -l)"
tail -1 "$work/report.txt"
