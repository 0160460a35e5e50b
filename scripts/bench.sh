#!/usr/bin/env bash
# Measures Perlwick as a user meets it, under Wine in a private X display, at 0, 32,767,
# 200,000 and 1,000,000 records, beside baselines taken in the same run (a bare window,
# a bare combo box's list filled with the same names, a plain copy of the records file),
# and prints the medians and spreads, the disk's copy speed, and each goal of
# docs/performance.md beside its bound. Not a test: it asserts nothing. Takes about five
# minutes with the default three runs.
#
#   scripts/bench.sh [RUNS] [--plot FILE.svg]
#
# The records files and the raw figures (results.csv) are kept in build/bench.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

runs=3
plot=()
while [ $# -gt 0 ]; do
  case $1 in
    --plot) plot=(--plot "$2"); shift 2 ;;
    *) runs=$1; shift ;;
  esac
done

require_packages "${NATIVE_PACKAGES[@]}" "${MINGW_PACKAGES[@]}" "${WINE_PACKAGES[@]}" \
  "${TEST_PACKAGES[@]}"
cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64 --target wine_bench -j "$(nproc)"

out=$PWD/build/bench
mkdir -p "$out"
files=()
for count in 0 32767 200000 1000000; do
  file=$out/records-$count.txt
  if [ ! -f "$file" ]; then
    echo "Writing a records file of $count records ..."
    python3 bench/make_records.py "$count" "$file"
  fi
  files+=("$file")
done

wine_dir=$PWD/build/mingw64/wine
session=$wine_dir/bench
tests/e2e/wine_session.sh start "$session" "$wine_dir/template" 96
trap 'tests/e2e/wine_session.sh stop "$session"' EXIT
echo "Measuring, $runs runs of each size ..."
tests/e2e/wine_session.sh run "$session" \
  "$PWD/build/mingw64/bench/wine_bench.exe" "$PWD/build/mingw64/perlwick.exe" \
  "$PWD/build/mingw64/bench/bare_window.exe" "$runs" "${files[@]}" >"$out/results.csv"
python3 bench/report.py "$out/results.csv" "${plot[@]}"
