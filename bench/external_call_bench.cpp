// The external functions' own cost, each beside the bare interpreter doing
// the same work in the same process: Vesko_RunScript against
// luaL_loadstring and lua_pcall, a 10 MB text argument against one host
// transcode of it, Vesko_CallFunction against lua_newthread and lua_resume,
// and Vesko_ResumeFunction against lua_resume.  Calls go through the
// registered handlers with parameters the host prepared once.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/side_by_side.h"
#include "host/plugins/plugin_loader.h"
#include "host/plugins/prepared_call.h"
#include "lua.hpp"

namespace {

using vesko_host::numberValue;
using vesko_host::PreparedCall;
using vesko_host::textValue;

constexpr int kCalls = 20000;

// The plug-in, loaded and enabled once for every benchmark.
void ensurePlugin() {
  static vesko_host::LoadedPlugin plugin = [] {
    std::string error;
    auto loaded = vesko_host::loadPlugin(VESKO_PLUGIN_PATH, &error);
    if (!loaded || vesko_host::enablePlugin(*loaded) != 53) {
      throw std::runtime_error("cannot enable the plug-in: " + error);
    }
    return std::move(*loaded);
  }();
}

void runOnce(const char* script) {
  vesko_host::Value result;
  if (vesko_host::callExternal("Vesko_RunScript", {textValue(script)}, &result) != 0) {
    throw std::runtime_error(std::string("script failed: ") + script);
  }
}

// Seconds that kCalls runs of `work` take.
template <typename Work>
double secondsOfCalls(Work&& work) {
  return vesko_bench::secondsOf([&] {
    for (int i = 0; i < kCalls; ++i) work();
  });
}

void expectSuccess(int16_t answer) {
  if (answer != 0) throw std::runtime_error("external function failed");
}

struct BareState {
  lua_State* L = luaL_newstate();
  BareState() { luaL_openlibs(L); }
  ~BareState() { lua_close(L); }
  void run(const char* script) {
    if (luaL_dostring(L, script) != 0) throw std::runtime_error(lua_tostring(L, -1));
  }
};

void BM_RunScript(benchmark::State& state) {
  ensurePlugin();
  PreparedCall call("Vesko_RunScript", {textValue("return 1+1")});
  BareState bare;
  vesko_bench::compare(
      state, "handler_over_bare",
      [&] { return secondsOfCalls([&] { expectSuccess(call.call()); }); },
      [&] {
        return secondsOfCalls([&] {
          luaL_loadstring(bare.L, "return 1+1");
          lua_pcall(bare.L, 0, LUA_MULTRET, 0);
          lua_settop(bare.L, 0);
        });
      });
}

// 10 MB of mixed one- and two-byte characters.
std::string bigText() {
  std::string text;
  while (text.size() < 10'000'000)
    text +=
        "Gr\xC3\xBC\xC3\x9F"
        "e aus K\xC3\xB6ln, 42. ";
  return text;
}

void BM_TextArgument(benchmark::State& state) {
  ensurePlugin();
  const std::string text = bigText();
  PreparedCall call("Vesko_RunScript", {textValue("return ..."), textValue(text)});

  FMErrorRecord e{1, 0};
  FMText* hostText = FM_Text_Constructor1(&e);
  FM_Text_AssignWithLength(hostText, text.data(), static_cast<uint32_t>(text.size()),
                           FM_ENCODING_UTF8, &e);
  const std::size_t capacity = 4 * std::size_t{FM_Text_GetSize(hostText, &e)} + 1;
  auto buffer = std::make_unique<char[]>(capacity);
  vesko_bench::compare(
      state, "returned_over_one_transcode",
      [&] { return vesko_bench::secondsOf([&] { expectSuccess(call.call()); }); },
      [&] {
        return vesko_bench::secondsOf([&] {
          FM_Text_GetBytes(hostText, buffer.get(), static_cast<uint32_t>(capacity), 0,
                           FM_TEXT_TO_END, FM_ENCODING_UTF8, &e);
        });
      });
  if (call.result().text != text) throw std::runtime_error("the text came back changed");
  FM_Text_Delete(hostText, &e);
}

constexpr const char* kAdd = "function add(a, b) return a + b end";
constexpr const char* kGenerator = "function gen() while true do coroutine.yield(1) end end";

void BM_CallFunction(benchmark::State& state) {
  ensurePlugin();
  runOnce(kAdd);
  PreparedCall call("Vesko_CallFunction", {textValue("add"), numberValue(2), numberValue(3)});
  BareState bare;
  bare.run(kAdd);
  vesko_bench::compare(
      state, "handler_over_bare",
      [&] { return secondsOfCalls([&] { expectSuccess(call.call()); }); },
      [&] {
        return secondsOfCalls([&] {
          lua_State* co = lua_newthread(bare.L);
          lua_getglobal(co, "add");
          lua_pushnumber(co, 2);
          lua_pushnumber(co, 3);
          lua_resume(co, 2);
          lua_settop(bare.L, 0);
        });
      });
}

void BM_ResumeFunction(benchmark::State& state) {
  ensurePlugin();
  runOnce(kGenerator);
  vesko_host::Value first;
  vesko_host::callExternal("Vesko_CallFunction", {textValue("gen")}, &first);
  PreparedCall call("Vesko_ResumeFunction", {});
  BareState bare;
  bare.run(kGenerator);
  lua_State* co = lua_newthread(bare.L);
  lua_getglobal(co, "gen");
  lua_resume(co, 0);
  vesko_bench::compare(
      state, "handler_over_bare", [&] { return secondsOfCalls([&] { call.call(); }); },
      [&] {
        return secondsOfCalls([&] {
          lua_settop(co, 0);
          lua_resume(co, 0);
        });
      });
}

BENCHMARK(BM_RunScript)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextArgument)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallFunction)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResumeFunction)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
