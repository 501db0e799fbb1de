// The cost of the bounds on the bundled libraries' pattern functions: the
// wrappers (pattern depth, C stack left, LPeg tree depth) against the
// libraries' own functions, on the same ordinary patterns.
#include <benchmark/benchmark.h>

#include <stdexcept>

#include "bench/side_by_side.h"
#include "engine/library_guards/wrapped_functions.h"
#include "lua.hpp"

extern "C" int luaopen_lpeg(lua_State* L);

namespace {

constexpr const char* kPatterns = R"(
  local s = 'key = value; other = thing; more = words'
  for i = 1, 200000 do
    string.find(s, '(%w+)%s*=%s*(%w+)')
    string.gsub(s, '%s', '')
    for w in string.gmatch(s, '%a+') do end
  end)";

constexpr const char* kLpeg = R"(
  local word = lpeg.C(lpeg.R('az')^1)
  local pair = word * lpeg.P(' = ') * word
  for i = 1, 300000 do
    pair:match('key = value')
    local p = lpeg.P'a' * lpeg.P'b'^0 + lpeg.C(lpeg.R'09'^1)
  end)";

lua_State* newState(bool bounded) {
  lua_State* L = luaL_newstate();
  luaL_openlibs(L);
  lua_pushcfunction(L, luaopen_lpeg);
  lua_pushliteral(L, "lpeg");
  lua_call(L, 1, 0);
  if (bounded) vesko::engine::wrapCoreLibraries(L);
  return L;
}

double runScript(lua_State* L, const char* script) {
  if (luaL_loadstring(L, script) != 0) throw std::runtime_error(lua_tostring(L, -1));
  const double seconds = vesko_bench::secondsOf([&] {
    if (lua_pcall(L, 0, 0, 0) != 0) throw std::runtime_error(lua_tostring(L, -1));
  });
  lua_settop(L, 0);
  return seconds;
}

void boundsCost(benchmark::State& state, const char* script, const char* name, const char* what,
                const char* target) {
  lua_State* bounded = newState(true);
  lua_State* own = newState(false);
  const auto [ours, theirs] = vesko_bench::totalsOf(
      state, [&] { return runScript(bounded, script); }, [&] { return runScript(own, script); });
  vesko_bench::report(state, name, what, ours / theirs, target);
  lua_close(bounded);
  lua_close(own);
}

void BM_PatternBounds(benchmark::State& state) {
  boundsCost(state, kPatterns, "bounded_over_own",
             "string.find, gsub, gmatch bounded / the library's own", "<= 1.3");
}
void BM_LpegBounds(benchmark::State& state) {
  boundsCost(state, kLpeg, "bounded_over_own", "LPeg match and operators bounded / LPeg's own",
             "<= 1.3");
}

BENCHMARK(BM_PatternBounds)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LpegBounds)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

VESKO_BENCH_MAIN()
