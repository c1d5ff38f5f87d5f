#!/usr/bin/env bash
# Builds Parvelle (Release) and runs the main job on the bundled sample archive.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
echo
echo "== parvelle-cli scan samples/sample.olm"
build/parvelle-cli scan samples/sample.olm
