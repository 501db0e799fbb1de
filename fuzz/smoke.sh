#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a few seconds from its
# seed corpus.  New inputs go to a scratch folder; the corpus in the repo is
# left as it is; an input that fails is kept in <build>/fuzz-artifacts.
# FUZZ_SECONDS (default 5) sets the time per target and FUZZ_BUILD (default
# build-fuzz) the build folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-5}
targets=(codecs_fuzz pack_fuzz text_fuzz utf8_fuzz script_fuzz)

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DVESKO_FUZZ=ON -DVESKO_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts=$build/fuzz-artifacts
rm -rf "$artifacts" && mkdir -p "$artifacts"
passed=0
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target"
  echo "== $target: ${seconds}s"
  "$build/fuzz/$target" -max_total_time="$seconds" -max_len=1024 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$scratch/$target" "$root/fuzz/corpus/$target" 2>&1 |
    grep -E '^(stat::number_of_executed_units|INFO: Seed|==[0-9]+==|SUMMARY|broken promise)' || true
  # A crash or a broken promise leaves an artifact behind.
  if [ -n "$(ls -A "$artifacts")" ]; then
    echo "$target failed; its input:" "$artifacts"/*
    exit 1
  fi
  passed=$((passed + 1))
done
echo "fuzz smoke: $passed passed, 0 failed"
