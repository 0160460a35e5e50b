#!/usr/bin/env bash
# Builds Perlwick and runs every test through CTest, installing what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

require_packages "${NATIVE_PACKAGES[@]}"

jobs=$(nproc)
cmake --preset native
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"
