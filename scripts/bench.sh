#!/usr/bin/env bash
# Measures Perlwick as a user meets it, under Wine in a private X display, at 0, 32,767,
# 200,000 and 1,000,000 records, beside yardsticks taken in the same run (a bare window,
# a bare combo box's list filled with the same names, a plain copy of the records file,
# and at 1,000,000 records a bare read of the file into fresh memory, bare writes of its
# bytes, and a plain copy before each edit), with the processor time and page faults of
# each; then the edits at 1,000,000 records once more in a session of an ordinary account,
# whose C:\ refuses new files, where Perlwick rewrites the records file in place. Prints the
# medians and spreads and each goal of docs/performance.md beside its bound. Not a test: it
# asserts nothing. Takes about seven minutes with the default three runs.
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
ordinary=$wine_dir/bench-ordinary
trap 'tests/e2e/wine_session.sh stop "$session"; tests/e2e/wine_session.sh stop "$ordinary"' EXIT
tests/e2e/wine_session.sh start "$session" "$wine_dir/template" 96
echo "Measuring, $runs runs of each size (load average: $(cut -d' ' -f1-3 /proc/loadavg)) ..."
tests/e2e/wine_session.sh run "$session" \
  "$PWD/build/mingw64/bench/wine_bench.exe" "$PWD/build/mingw64/perlwick.exe" \
  "$PWD/build/mingw64/bench/bare_window.exe" "$runs" "${files[@]}" >"$out/results.csv"
tests/e2e/wine_session.sh stop "$session"

tests/e2e/wine_session.sh start "$ordinary" "$wine_dir/template" 96 ordinary
echo "Measuring the edits in place, $runs runs (load average: $(cut -d' ' -f1-3 /proc/loadavg)) ..."
tests/e2e/wine_session.sh run "$ordinary" \
  "$PWD/build/mingw64/bench/wine_bench.exe" --in-place "$PWD/build/mingw64/perlwick.exe" \
  "$runs" "${files[-1]}" >>"$out/results.csv"
echo "Done (load average: $(cut -d' ' -f1-3 /proc/loadavg))."
python3 bench/report.py "$out/results.csv" "${plot[@]}"
