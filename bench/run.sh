#!/usr/bin/env bash
# Builds and runs every benchmark in the given build folder (default
# build/).  Each prints its ratios as counters: ours over what it stands
# beside, measured alternately in one run.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
cmake -S . -B "$build" -DVESKO_BENCH=ON >/dev/null
benches=(library_bench time_limit_bench external_call_bench sql_bench)
cmake --build "$build" -j"$(nproc)" --target "${benches[@]}"
for bench in "${benches[@]}"; do
  echo "== $bench"
  "$build/bench/$bench"
done
