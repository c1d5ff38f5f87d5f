#!/usr/bin/env bash
# Builds Parvelle (Release) and runs the main job on the bundled sample archive: its folders are
# saved into one PST file per account, and each file is checked and listed.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
out=build/demo
rm -rf "$out"
echo
echo "== parvelle-cli scan samples/sample.olm"
build/parvelle-cli scan samples/sample.olm
echo
echo "== parvelle-cli convert samples/sample.olm --to pst --out $out"
status=0
build/parvelle-cli convert samples/sample.olm --to pst --out "$out" --log "$out/log.txt" || status=$?
for pst in "$out"/*.pst; do
    echo
    echo "== parvelle-cli check-pst $pst"
    build/parvelle-cli check-pst "$pst"
    echo "== parvelle-cli pst-info $pst"
    build/parvelle-cli pst-info "$pst"
done
echo
echo "The PST files are in $out/ (log: $out/log.txt)."
exit "$status"
