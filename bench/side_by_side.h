// Timing two ways of doing the same work in one run, alternately, so that
// the ratio of their totals does not depend on what else the machine does.
#ifndef VESKO_BENCH_SIDE_BY_SIDE_H
#define VESKO_BENCH_SIDE_BY_SIDE_H

#include <benchmark/benchmark.h>

#include <chrono>

namespace vesko_bench {

template <typename Work>
double secondsOf(Work&& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs `ours` and `theirs` once per iteration (each returns the seconds it
// took), reports our time as the iteration's and the ratio of the totals,
// ours over theirs, as the counter `name`, and their mean time as
// "other_ms".
template <typename Ours, typename Theirs>
void compare(benchmark::State& state, const char* name, Ours&& ours, Theirs&& theirs) {
  double ourTotal = 0;
  double theirTotal = 0;
  for (auto _ : state) {
    const double ourTime = ours();
    ourTotal += ourTime;
    theirTotal += theirs();
    state.SetIterationTime(ourTime);
  }
  state.counters[name] = ourTotal / theirTotal;
  state.counters["other_ms"] = 1000 * theirTotal / static_cast<double>(state.iterations());
}

}  // namespace vesko_bench

#endif
