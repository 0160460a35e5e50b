#!/usr/bin/env bash
# Builds Perlwick and runs every test through CTest, installing what is missing first:
# the Linux unit tests with the crash test, the same under the sanitizers with the fuzzer,
# then the Windows x86-64 build's unit tests and end-to-end tests,
# which run under Wine in a private X display (no desktop needed). The Windows x86 build
# is compiled as a check only: this machine cannot run 32-bit programs.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

require_packages "${NATIVE_PACKAGES[@]}" "${LINT_PACKAGES[@]}" "${SANITIZER_PACKAGES[@]}" \
  "${MINGW_PACKAGES[@]}" "${INSTALLER_PACKAGES[@]}" "${WINE_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

jobs=$(nproc)

echo "== Linux build, unit tests and the crash test (a minute)"
cmake --preset native
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

echo "== Linux unit tests under AddressSanitizer and UBSan, and the fuzzer (a minute)"
cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

echo "== Windows x86-64 build, with its tests"
cmake --preset mingw64
cmake --build --preset mingw64 -j "$jobs"

echo "== Windows x86 build (compiled, not run)"
cmake --preset mingw32
cmake --build --preset mingw32 -j "$jobs"

echo "== Windows tests under Wine"
ctest --preset mingw64 -j "$jobs"
