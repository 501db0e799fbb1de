#!/usr/bin/env bash
# vesko-calc fed calculations through a pipe, against one lua5.1 process
# per calculation: the time per calculation of each, and their ratio.
# Every line runs the same script with another argument, the way a
# calculation runs over the records of a table.
set -euo pipefail
build=${1:-build}
calc="$build/host/vesko-calc"
lines=${VESKO_CALC_BENCH_LINES:-200000}
processes=${VESKO_CALC_BENCH_PROCESSES:-200}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk -v n="$lines" 'BEGIN { for (i = 0; i < n; i++) printf "Vesko_RunScript(\"return (...) * 2\"; %d)\n", i }' \
  >"$work/lines"
: >"$work/none"

nanoseconds() { date +%s%N; }

# The process's own start and end, timed with no line, is taken off.
start=$(nanoseconds); "$calc" <"$work/none" >/dev/null; empty=$(($(nanoseconds) - start))
start=$(nanoseconds); "$calc" <"$work/lines" >"$work/out"; full=$(($(nanoseconds) - start))
[ "$(wc -l <"$work/out")" -eq "$lines" ] || { echo "vesko-calc lost lines" >&2; exit 1; }

start=$(nanoseconds)
for ((i = 0; i < processes; i++)); do lua5.1 -e "io.write((${i}) * 2, '\n')" >/dev/null; done
lua=$(($(nanoseconds) - start))

awk -v full="$full" -v empty="$empty" -v n="$lines" -v lua="$lua" -v p="$processes" 'BEGIN {
  ours = (full - empty) / n / 1000; theirs = lua / p / 1000
  printf "vesko-calc per piped calculation: %.3f us (target <= 1.5 us)\n", ours
  printf "lua5.1 -e per calculation: %.1f us; lua5.1_over_vesko_calc=%.0f (target >= 1000)\n", theirs, theirs / ours
}'
