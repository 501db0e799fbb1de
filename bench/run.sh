#!/usr/bin/env bash
# Builds and runs every benchmark in the given build folder (default
# build/), then vesko-calc's throughput.  Each benchmark prints its table
# and then one line per ratio with its target; the lines of them all are
# repeated at the end.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
cmake -S . -B "$build" -DVESKO_BENCH=ON >/dev/null
benches=(library_bench time_limit_bench library_guards_bench external_call_bench run_file_bench sql_bench)
cmake --build "$build" -j"$(nproc)" --target "${benches[@]}" vesko-calc
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for bench in "${benches[@]}"; do
  echo "== $bench"
  "$build/bench/$bench" 2>&1 | tee -a "$log"
done
echo "== vesko-calc"
bash bench/calc_throughput.sh "$build" | tee -a "$log"
echo "== every ratio"
grep -E "\(target|target >=" "$log"
