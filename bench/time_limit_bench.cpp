// The cost of the time-limit hook on a CPU-bound script: armed with the
// default limit and interval, against no hook at all and against a count
// hook at the same interval whose body does nothing.
#include <benchmark/benchmark.h>

#include <stdexcept>

#include "bench/side_by_side.h"
#include "engine/time_limit.h"
#include "lua.hpp"

namespace {

// About 4 instructions per turn: a few hundred million in all.
constexpr const char* kLoop = "local x = 0 for i = 1, 60000000 do x = x + i % 7 end return x";

void emptyHook(lua_State*, lua_Debug*) {}

enum class Hook { kNone, kEmpty, kTimeLimit };

double runLoop(lua_State* L, Hook hook) {
  switch (hook) {
    case Hook::kNone:
      lua_sethook(L, nullptr, 0, 0);
      break;
    case Hook::kEmpty:
      lua_sethook(L, emptyHook, LUA_MASKCOUNT, vesko::engine::kDefaultHookInterval);
      break;
    case Hook::kTimeLimit:
      vesko::engine::armTimeLimit(L);
      break;
  }
  if (luaL_loadstring(L, kLoop) != 0) throw std::runtime_error(lua_tostring(L, -1));
  const double seconds = vesko_bench::secondsOf([&] {
    if (lua_pcall(L, 0, 1, 0) != 0) throw std::runtime_error(lua_tostring(L, -1));
  });
  lua_settop(L, 0);
  return seconds;
}

void hookCost(benchmark::State& state, Hook against, const char* name, const char* what,
              const char* target) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  const auto [armed, other] = vesko_bench::totalsOf(
      state, [&] { return runLoop(L, Hook::kTimeLimit); }, [&] { return runLoop(L, against); });
  vesko_bench::report(state, name, what, armed / other, target);
  lua_close(L);
}

void BM_HookAgainstNoHook(benchmark::State& state) {
  hookCost(state, Hook::kNone, "armed_over_no_hook", "time-limit hook armed / no hook", "<= 1.3");
}
void BM_HookAgainstEmptyHook(benchmark::State& state) {
  hookCost(state, Hook::kEmpty, "armed_over_empty_hook",
           "time-limit hook armed / an empty hook at the same interval", "none; for reading");
}

BENCHMARK(BM_HookAgainstNoHook)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HookAgainstEmptyHook)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

VESKO_BENCH_MAIN()
