// Timing ways of doing the same work in one run, alternately, so that the
// ratio of their totals does not depend on what else the machine does.
// Times are the thread's processor time.
// Every benchmark also reports each ratio with its target on a line of its
// own, printed after the benchmark's table.
#ifndef VESKO_BENCH_SIDE_BY_SIDE_H
#define VESKO_BENCH_SIDE_BY_SIDE_H

#include <benchmark/benchmark.h>

#include <array>
#include <ctime>
#include <cstdio>
#include <string>
#include <vector>

namespace vesko_bench {

inline double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The processor time `work` takes on this thread: on a machine shared with
// other work, wall-clock time would count the time others run.
template <typename Work>
double secondsOf(Work&& work) {
  const double start = threadSeconds();
  work();
  return threadSeconds() - start;
}

// Runs each of `ways` once per iteration, in turn (each returns the seconds
// it took); reports the first one's time as the iteration's and answers the
// total of each.
template <typename... Ways>
std::array<double, sizeof...(Ways)> totalsOf(benchmark::State& state, Ways&&... ways) {
  std::array<double, sizeof...(Ways)> totals{};
  for (auto _ : state) {
    std::array<double, sizeof...(Ways)> times{ways()...};
    for (std::size_t i = 0; i < times.size(); ++i) totals[i] += times[i];
    state.SetIterationTime(times[0]);
  }
  return totals;
}

inline std::vector<std::string>& summaryLines() {
  static std::vector<std::string> lines;
  return lines;
}

// Keeps "what: ratio (target ...)" for the summary, and sets the counter.
inline void report(benchmark::State& state, const char* counter, const char* what, double ratio,
                   const char* target) {
  state.counters[counter] = ratio;
  char line[256];
  std::snprintf(line, sizeof line, "%-58s %8.3f   (target %s)", what, ratio, target);
  summaryLines().emplace_back(line);
}

// Runs `ours` and `theirs` once per iteration, reports our time as the
// iteration's and the ratio of the totals, ours over theirs, as the counter
// `name`, and their mean time as "other_ms".
template <typename Ours, typename Theirs>
void compare(benchmark::State& state, const char* name, Ours&& ours, Theirs&& theirs) {
  const auto [ourTotal, theirTotal] = totalsOf(state, ours, theirs);
  state.counters[name] = ourTotal / theirTotal;
  state.counters["other_ms"] = 1000 * theirTotal / static_cast<double>(state.iterations());
}

inline int runAndSummarise(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const std::string& line : summaryLines()) std::printf("%s\n", line.c_str());
  return 0;
}

}  // namespace vesko_bench

#define VESKO_BENCH_MAIN()                           \
  int main(int argc, char** argv) {                  \
    return vesko_bench::runAndSummarise(argc, argv); \
  }

#endif
