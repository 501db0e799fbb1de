// What every call leaves in the interpreter: the same stack, the same
// anchors, and, over many calls, the same memory.  Each external function
// is driven down each of its ways out: success, a script's error, a load
// error, a host failure, running out of memory, nested calls.
#include <cstdlib>
#include <cstdio>
#include <functional>
#include <string>

#include <unistd.h>
#include <vector>

#include "tests/support/host_failure_sweep.h"
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;

// How many calls a soak makes of each way: fewer in the sanitizer build
// and under valgrind (which sets VESKO_SOAK_CALLS), where a call costs
// fifty times as much.
int soakCalls() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kCalls = 5000;
#else
  constexpr int kCalls = 100000;
#endif
  const char* text = std::getenv("VESKO_SOAK_CALLS");
  return text != nullptr ? std::atoi(text) : kCalls;
}

void callExternal(const std::string& name, const std::vector<Value>& arguments = {}) {
  Value ignored;
  vesko_host::callExternal(name, arguments, &ignored);
}

struct Way {
  const char* name;
  std::function<void()> call;
};

class CallBoundaryTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    const std::string path = scriptPath();
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("local a = ... return (a or 0) + 1\n", file);
    std::fclose(file);
    ASSERT_EQ(run("function twice(x) return x * 2 end "
                  "function fails() error('no') end "
                  "function pauses(x) local y = coroutine.yield(x) return y end "
                  "lazy = setmetatable({}, {__index = function() error('lookup') end})"),
              "");
  }
  void TearDown() override {
    std::remove(scriptPath().c_str());
    PluginTest::TearDown();
  }
  // Tests run in parallel processes: each has a file of its own.
  static std::string scriptPath() {
    return testing::TempDir() + "boundary_script_" + std::to_string(getpid()) + ".lua";
  }

  // The interpreter's memory after full collections, in KB.
  double memoryAfterCollection() {
    const std::string kb =
        run("collectgarbage('collect') collectgarbage('collect') return collectgarbage('count')");
    return std::stod(kb);
  }

  std::string outOfRest() { return engineOutOfRest(plugin_.library); }

  static std::vector<Way> ways() {
    auto runScript = [](const char* script) {
      return [script]() { callExternal("Vesko_RunScript", {textValue(script)}); };
    };
    auto callFunction = [](std::vector<Value> arguments) {
      return [arguments]() { callExternal("Vesko_CallFunction", arguments); };
    };
    return {
        {"RunScript returns", runScript("return 1")},
        {"RunScript raises", runScript("error('x')")},
        {"RunScript raises a table", runScript("error({})")},
        {"RunScript does not load", runScript("return +")},
        {"RunScript nests", runScript("return vesko.Evaluate('Vesko_RunScript(\"return 2\")')")},
        {"RunScript nests a failure",
         runScript("return vesko.Evaluate('Vesko_RunScript(\"error(1)\")')")},
        {"RunFile returns",
         []() {
           callExternal("Vesko_RunFile", {textValue(scriptPath()), numberValue(1)});
         }},
        {"RunFile is missing",
         []() { callExternal("Vesko_RunFile", {textValue(scriptPath() + ".missing")}); }},
        {"CallFunction returns", callFunction({textValue("twice"), numberValue(2)})},
        {"CallFunction raises", callFunction({textValue("fails")})},
        {"CallFunction names nothing", callFunction({textValue("nothing")})},
        {"CallFunction's lookup raises", callFunction({textValue("lazy.x")})},
        {"CallFunction of a C function", callFunction({textValue("string.len"), textValue("ab")})},
        {"CallFunction yields, ResumeFunction ends it",
         []() {
           callExternal("Vesko_CallFunction", {textValue("pauses"), numberValue(1)});
           callExternal("Vesko_ResumeFunction", {numberValue(2)});
         }},
        {"ResumeFunction with nothing to resume", []() { callExternal("Vesko_ResumeFunction"); }},
        {"Timeout", []() { callExternal("Vesko_Timeout", {numberValue(5)}); }},
        {"Timeout refuses", []() { callExternal("Vesko_Timeout", {textValue("x")}); }},
        {"Version", []() { callExternal("Vesko_Version", {textValue("long")}); }},
        {"Version refuses", []() { callExternal("Vesko_Version", {textValue("x")}); }},
        {"LastError", []() { callExternal("Vesko_LastError", {textValue("number")}); }},
    };
  }
};

TEST_F(CallBoundaryTest, EveryWayOutLeavesTheInterpreterAtRest) {
  for (const Way& way : ways()) {
    SCOPED_TRACE(way.name);
    way.call();
    EXPECT_EQ(outOfRest(), "");
  }
}

TEST_F(CallBoundaryTest, AHostFailureAtAnyStepLeavesTheInterpreterAtRest) {
  for (const Way& way : ways()) {
    SCOPED_TRACE(way.name);
    sweepHostFailures([] {}, way.call, [&](bool) { ASSERT_EQ(outOfRest(), ""); });
  }
}

TEST_F(CallBoundaryTest, ManyCallsOfEveryWayLeaveTheMemoryWhereItWas) {
  const int calls = soakCalls();
  for (const Way& way : ways()) {
    SCOPED_TRACE(way.name);
    // What a first call makes once (a kept chunk, a grown stack) is not a leak.
    for (int i = 0; i < 10; ++i) way.call();
    memoryAfterCollection();
    const double before = memoryAfterCollection();
    for (int i = 0; i < calls; ++i) way.call();
    EXPECT_EQ(outOfRest(), "");
    EXPECT_NEAR(memoryAfterCollection(), before, 4.0) << calls << " calls";
  }
}

// Enabled under a small memory ceiling.
using CeilingBoundaryTest = PluginWithCeilingTest<3000000>;

TEST_F(CeilingBoundaryTest, TheLastOfManyCallsWorksLikeTheFirst) {
  const int calls = soakCalls();
  for (int i = 0; i < calls; ++i) {
    Value result;
    ASSERT_EQ(vesko_host::callExternal("Vesko_RunScript", {textValue("return 1")}, &result), 0)
        << "call " << i;
  }
  // Memory errors, caught or not, do not build up either.
  for (int i = 0; i < calls / 100; ++i) {
    run("local t = {} while true do t[#t + 1] = {} end");
    run("pcall(function() local s = string.rep('x', 4e6) end)");
  }
  EXPECT_EQ(run("return 1"), "1");
  EXPECT_EQ(engineOutOfRest(plugin_.library), "");
}

TEST_F(LoadedPluginTest, ADisableAndEnableLeaveTheStateOfAFreshEnable) {
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  auto figures = [&] {
    Value result;
    vesko_host::callExternal(
        "Vesko_RunScript",
        {textValue("collectgarbage('collect') return string.format('%d %s %s', "
                   "math.floor(collectgarbage('count')), tostring(rawget(_G, 'kept')), "
                   "vesko.ScriptTime('timeout'))")},
        &result);
    const EngineHeights heights = engineHeights(plugin_.library);
    return vesko_host::textForm(result) + " stack " + std::to_string(heights.mainStack) +
           " anchors " + std::to_string(heights.anchors);
  };
  const std::string fresh = figures();
  // Leave as much behind as a session can: a suspended function, cached
  // chunks, a traceback, a global, a changed time limit.
  Value ignored;
  vesko_host::callExternal("Vesko_RunScript",
                           {textValue("kept = 1 function p() coroutine.yield(1) end")}, &ignored);
  vesko_host::callExternal("Vesko_CallFunction", {textValue("p")}, &ignored);
  for (int i = 0; i < 3; ++i) {
    vesko_host::callExternal("Vesko_RunScript", {textValue("error('x')")}, &ignored);
  }
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(engineOutOfRest(plugin_.library), "");
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  EXPECT_EQ(figures(), fresh);
  EXPECT_EQ(vesko_host::callExternal("Vesko_ResumeFunction", {}, &ignored), -1);
  vesko_host::callExternal("Vesko_LastError", {textValue("traceback")}, &ignored);
  EXPECT_EQ(vesko_host::textForm(ignored), "");
}

TEST_F(PluginTest, AScriptCannotReachTheLocaleFunctionTheCallWatchesItThrough) {
  EXPECT_EQ(run("return select('#', debug.getupvalue(os.setlocale, 1))"), "0");
  EXPECT_EQ(run("return os.setlocale()"), run("return os.setlocale(nil)"));
}

}  // namespace
}  // namespace vesko_test
