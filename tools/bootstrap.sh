#!/usr/bin/env bash
# Installs everything Parvelle needs to build, run and test on a fresh Debian machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
    # build
    build-essential cmake ninja-build pkg-config clang lld
    zlib1g-dev libpango1.0-dev libcairo2-dev libjemalloc-dev libisal-dev
    qt6-base-dev qt6-svg-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    # third-party readers the tests use as oracles (msgconvert loads Email::Address, which its
    # package does not depend on)
    pst-utils pff-tools libemail-outlook-message-perl libemail-address-perl python3 python3-olefile poppler-utils unrtf bc unzip
    fonts-liberation2 fonts-noto-core fonts-noto-cjk fonts-noto-color-emoji
)

missing=()
for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "bootstrap: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node.js may come from another repository that bundles npm; only install Debian's when absent.
if ! command -v npm >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
fi

# Test oracles from the npm registry, pinned in tools/oracles/package.json and in the
# package.json of each folder below it.
for dir in tools/oracles tools/oracles/*/; do
    if [ -f "$dir/package.json" ] && [ ! -d "$dir/node_modules" ]; then
        (cd "$dir" && npm install --no-audit --no-fund --silent)
    fi
done
echo "bootstrap: done"
