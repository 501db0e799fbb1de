// The external functions' own cost, each beside the bare interpreter doing
// the same work in the same process: Vesko_RunScript against
// luaL_loadstring and lua_pcall (the same text every call, and a new text
// every call), a 10 MB text argument against one host transcode of it,
// Vesko_CallFunction against lua_newthread and lua_resume, and
// Vesko_ResumeFunction against lua_resume.  Calls go through the
// registered handlers with parameters the host prepared once.
//
// The plug-in's own share leaves out what the substitute host spends: the
// same sequence of host operations the handler makes, timed alone (and
// checked to be as many as the handler's), is taken off before dividing.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/fm_api.h"
#include "bench/enabled_plugin.h"
#include "bench/side_by_side.h"
#include "host/plugins/plugin_loader.h"
#include "host/plugins/prepared_call.h"
#include "lua.hpp"

namespace {

using vesko_host::numberValue;
using vesko_host::PreparedCall;
using vesko_host::textValue;

constexpr int kCalls = 20000;

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

// The host operations a handler makes, replayed on the same handles.
struct HostReplay {
  const FMDataVect* parameters;
  FMData* answer;
  FMFixPt* number;  // the plug-in's working number
  char buffer[64];

  explicit HostReplay(const vesko_host::PreparedCall& call)
      : parameters(call.parameters()), answer(call.answer()) {
    FMErrorRecord e{1, 0};
    number = FM_FixPt_Constructor1(0, 16, &e);
  }
  ~HostReplay() {
    FMErrorRecord e{1, 0};
    FM_FixPt_Delete(number, &e);
  }
  HostReplay(const HostReplay&) = delete;
  HostReplay& operator=(const HostReplay&) = delete;

  uint32_t size() {
    FMErrorRecord e{1, 0};
    return FM_DataVect_Size(parameters, &e);
  }
  // A parameter read as UTF-8 text.
  void text(uint32_t index) {
    FMErrorRecord e{1, 0};
    const FMText* t = FM_DataVect_AtAsText(parameters, index, &e);
    FMErrorRecord e2{1, 0};
    const uint32_t units = FM_Text_GetSize(t, &e2);
    FMErrorRecord e3{1, 0};
    FM_Text_GetBytes(t, buffer, 4 * units + 1 < sizeof buffer ? 4 * units + 1 : sizeof buffer, 0,
                     FM_TEXT_TO_END, FM_ENCODING_UTF8, &e3);
  }
  // A number parameter pushed as an argument.
  double numberArgument(uint32_t index) {
    FMErrorRecord e{1, 0};
    FM_Data_GetNativeType(FM_DataVect_At(parameters, index, &e), &e);
    FMErrorRecord e2{1, 0};
    const FMFixPt* n = FM_DataVect_AtAsNumber(parameters, index, &e2);
    FMErrorRecord e3{1, 0};
    return FM_FixPt_AsFloat(n, &e3);
  }
  // A number stored as the result.
  void numberResult(double value) {
    FMErrorRecord e{1, 0};
    FM_FixPt_AssignDouble(number, value, &e);
    FMErrorRecord e2{1, 0};
    FM_FixPt_SetPrecision(number, 16, &e2);
    FMErrorRecord e3{1, 0};
    FM_Data_SetAsNumber(answer, number, FM_KIND_NUMBER, &e3);
  }
};

// Host operations `work` makes.
template <typename Work>
std::uint64_t operationsOf(Work&& work) {
  const std::uint64_t before = vesko_host::operationCount();
  work();
  return vesko_host::operationCount() - before;
}

void expectSameOperations(std::uint64_t handler, std::uint64_t replay) {
  if (handler != replay)
    throw std::runtime_error("the replay makes " + std::to_string(replay) +
                             " host operations, the handler " + std::to_string(handler));
}

// Reports end to end and own-share ratios from the totals of the handler,
// its host operations alone and the bare interpreter.
void reportShares(benchmark::State& state, const char* what, const std::array<double, 3>& totals,
                  const char* endToEndTarget, const char* ownTarget) {
  const auto [ours, host, bare] = totals;
  const std::string name(what);
  if (endToEndTarget != nullptr)
    vesko_bench::report(state, "end_to_end", (name + ", end to end / bare").c_str(), ours / bare,
                        endToEndTarget);
  vesko_bench::report(state, "own_share", (name + ", plug-in's own share / bare").c_str(),
                      (ours - host) / bare, ownTarget);
  state.counters["host_share"] = host / bare;
}

void BM_RunScriptCached(benchmark::State& state) {
  vesko_bench::ensurePlugin();
  PreparedCall call("Vesko_RunScript", {textValue("return 1+1")});
  HostReplay host(call);
  auto replay = [&] {
    host.size();
    host.text(0);
    host.numberResult(2);
  };
  expectSuccess(call.call());  // compiled once, then kept
  expectSameOperations(operationsOf([&] { expectSuccess(call.call()); }), operationsOf(replay));
  BareState bare;
  const auto totals = vesko_bench::totalsOf(
      state, [&] { return secondsOfCalls([&] { expectSuccess(call.call()); }); },
      [&] { return secondsOfCalls(replay); },
      [&] {
        return secondsOfCalls([&] {
          luaL_loadstring(bare.L, "return 1+1");
          lua_pcall(bare.L, 0, LUA_MULTRET, 0);
          lua_settop(bare.L, 0);
        });
      });
  reportShares(state, "Vesko_RunScript, same text", totals, "<= 0.5", "<= 0.2");
}

void BM_RunScriptUncached(benchmark::State& state) {
  vesko_bench::ensurePlugin();
  // Twice as many texts as the cache keeps, taken in turn: the least
  // recently used is always the next one, so every call compiles.
  constexpr int kTexts = 1000;
  static int round = 0;
  std::vector<std::string> texts;
  std::vector<std::unique_ptr<PreparedCall>> calls;
  for (int i = 0; i < kTexts; ++i) {
    texts.push_back("return " + std::to_string(round++) + "+1");
    calls.push_back(
        std::make_unique<PreparedCall>("Vesko_RunScript", std::vector{textValue(texts.back())}));
  }
  BareState bare;
  const auto [ours, theirs] = vesko_bench::totalsOf(
      state,
      [&] {
        return vesko_bench::secondsOf([&] {
          for (int i = 0; i < kCalls; ++i) expectSuccess(calls[i % kTexts]->call());
        });
      },
      [&] {
        return vesko_bench::secondsOf([&] {
          for (int i = 0; i < kCalls; ++i) {
            luaL_loadstring(bare.L, texts[i % kTexts].c_str());
            lua_pcall(bare.L, 0, LUA_MULTRET, 0);
            lua_settop(bare.L, 0);
          }
        });
      });
  vesko_bench::report(state, "end_to_end", "Vesko_RunScript, a new text each call / bare",
                      ours / theirs, "<= 1.5");
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
  vesko_bench::ensurePlugin();
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
  vesko_bench::ensurePlugin();
  runOnce(kAdd);
  PreparedCall call("Vesko_CallFunction", {textValue("add"), numberValue(2), numberValue(3)});
  HostReplay host(call);
  auto replay = [&] {
    host.size();
    host.text(0);
    host.numberArgument(1);
    host.numberArgument(2);
    host.numberResult(5);
  };
  expectSuccess(call.call());  // the plug-in's working number is made on first use
  expectSameOperations(operationsOf([&] { expectSuccess(call.call()); }), operationsOf(replay));
  BareState bare;
  bare.run(kAdd);
  const auto totals = vesko_bench::totalsOf(
      state, [&] { return secondsOfCalls([&] { expectSuccess(call.call()); }); },
      [&] { return secondsOfCalls(replay); },
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
  reportShares(state, "Vesko_CallFunction", totals, nullptr, "<= 2");
}

void BM_ResumeFunction(benchmark::State& state) {
  vesko_bench::ensurePlugin();
  runOnce(kGenerator);
  vesko_host::Value first;
  vesko_host::callExternal("Vesko_CallFunction", {textValue("gen")}, &first);
  PreparedCall call("Vesko_ResumeFunction", {});
  HostReplay host(call);
  auto replay = [&] {
    host.size();
    host.numberResult(1);
  };
  expectSameOperations(operationsOf([&] { call.call(); }), operationsOf(replay));
  BareState bare;
  bare.run(kGenerator);
  lua_State* co = lua_newthread(bare.L);
  lua_getglobal(co, "gen");
  lua_resume(co, 0);
  const auto totals = vesko_bench::totalsOf(
      state, [&] { return secondsOfCalls([&] { call.call(); }); },
      [&] { return secondsOfCalls(replay); },
      [&] {
        return secondsOfCalls([&] {
          lua_settop(co, 0);
          lua_resume(co, 0);
        });
      });
  reportShares(state, "Vesko_ResumeFunction", totals, nullptr, "<= 4");
}

// A session that ages: the last 100,000 of a million calls against the
// first 100,000, in one run.  Whatever a call left behind would make the
// later ones slower (collections walk all of it).
void BM_SessionAge(benchmark::State& state) {
  vesko_bench::ensurePlugin();
  constexpr int kStretch = 100000;
  constexpr int kStretches = 10;
  PreparedCall call("Vesko_RunScript", {textValue("return 1")});
  double first = 0;
  double last = 0;
  for (auto _ : state) {
    for (int stretch = 0; stretch < kStretches; ++stretch) {
      const double seconds = vesko_bench::secondsOf([&] {
        for (int i = 0; i < kStretch; ++i) expectSuccess(call.call());
      });
      if (stretch == 0) first += seconds;
      if (stretch == kStretches - 1) last += seconds;
    }
    state.SetIterationTime(first + last);
  }
  vesko_bench::report(state, "last_over_first",
                      "Vesko_RunScript, the last 100,000 of 1,000,000 calls / the first 100,000",
                      last / first, "<= 1.05");
}

BENCHMARK(BM_RunScriptCached)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RunScriptUncached)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextArgument)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CallFunction)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResumeFunction)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SessionAge)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

VESKO_BENCH_MAIN()
