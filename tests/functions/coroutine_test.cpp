// Vesko_CallFunction and Vesko_ResumeFunction: name resolution and the
// active function's state machine.
#include <chrono>
#include <thread>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::dateValue;
using vesko_host::numberValue;
using vesko_host::textValue;

class CoroutineTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(run(R"(
      function gen() coroutine.yield(1) coroutine.yield(2) return 3 end
      function sum() local a, b = coroutine.yield(0) return a + b end
      function echo(...) return ... end
      function types(...)
        local t = {}
        for i = 1, select('#', ...) do t[#t + 1] = type((select(i, ...))) end
        return table.concat(t, ',')
      end
      function yieldTypes() return types(coroutine.yield()) end
      function fail() error('failed', 0) end
      function nothing() end
      function yieldNothing() coroutine.yield() end
    )"),
              "");
  }
};

TEST_F(CoroutineTest, AGeneratorDrivenByTheHost) {
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(lastError(), "3200: Coroutine yielded.");
  EXPECT_EQ(resume(), "2");
  EXPECT_EQ(lastError(), "3200: Coroutine yielded.");
  EXPECT_EQ(resume(), "3");
  EXPECT_EQ(lastError(), "0");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError(), "3250: Cannot resume. No function is active.");
}

TEST_F(CoroutineTest, ResumeArgumentsBecomeTheYieldsResults) {
  EXPECT_EQ(callFunction("sum"), "0");
  EXPECT_EQ(resume({numberValue(2), numberValue(3)}), "5");
  EXPECT_EQ(lastError(), "0");
  EXPECT_EQ(callFunction("yieldTypes"), "");
  EXPECT_EQ(resume({textValue("abc"), dateValue(2020, 1, 1), vesko_host::containerValue()}),
            "string,userdata,nil");
}

TEST_F(CoroutineTest, ThereIsNothingToResumeAfterEveryEnding) {
  EXPECT_EQ(resume(), "?");  // before any call
  EXPECT_EQ(lastError("number"), "3250");
  EXPECT_EQ(callFunction("echo", {numberValue(1)}), "1");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
  EXPECT_EQ(callFunction("fail"), "?");
  EXPECT_EQ(lastError(), "3020: failed");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
  Value result;
  EXPECT_EQ(callFunction("nothing", {}, &result), "");
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(CoroutineTest, AFailureAfterAResumeEndsTheFunction) {
  ASSERT_EQ(run("function late() coroutine.yield('x') error('late', 0) end"), "");
  EXPECT_EQ(callFunction("late"), "x");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError(), "3020: late");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(CoroutineTest, ResultKindsOnEachPath) {
  Value result;
  EXPECT_EQ(callFunction("echo", {textValue("42")}, &result), "42");
  EXPECT_EQ(result.kind, FM_KIND_TEXT);
  EXPECT_EQ(callFunction("echo", {numberValue(42)}, &result), "42");
  EXPECT_EQ(result.kind, FM_KIND_NUMBER);
  ASSERT_EQ(run("function yieldValue(v) coroutine.yield(v) return v end"), "");
  EXPECT_EQ(callFunction("yieldValue", {textValue("2")}, &result), "2");
  EXPECT_EQ(result.kind, FM_KIND_TEXT);
  EXPECT_EQ(resume({}, &result), "2");
  EXPECT_EQ(result.kind, FM_KIND_TEXT);

  // Timestamps become host timestamps whether yielded or returned.
  const Value when = vesko_host::timestampValue(2021, 6, 1, 12, 0, 0);
  EXPECT_NE(callFunction("yieldValue", {when}, &result), "?");
  EXPECT_EQ(result.kind, FM_KIND_TIMESTAMP);
  EXPECT_EQ(result.seconds, when.seconds);
  result = {};
  resume({}, &result);
  EXPECT_EQ(result.kind, FM_KIND_TIMESTAMP);
  EXPECT_EQ(result.seconds, when.seconds);
  result = {};
  EXPECT_NE(callFunction("echo", {when}, &result), "?");
  EXPECT_EQ(result.kind, FM_KIND_TIMESTAMP);

  // Nothing yielded or something unconvertible leaves the result alone.
  result = {};
  EXPECT_EQ(callFunction("yieldNothing", {}, &result), "");
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  EXPECT_EQ(lastError("number"), "3200");
  ASSERT_EQ(run("function yieldOdd() coroutine.yield(io.stdout) coroutine.yield({}) end"), "");
  result = {};
  callFunction("yieldOdd", {}, &result);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  resume({}, &result);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
}

TEST_F(CoroutineTest, WhichPathsCutStringsToTheirWellFormedPrefix) {
  // A completed call and a resumed yield hand the string over whole (the
  // host replaces the bad byte); a first yield and a resumed return cut it.
  ASSERT_EQ(run("bad = 'ab\\255cd' function badReturn() return bad end "
                "function badTwice() coroutine.yield(bad) coroutine.yield(bad) return bad end"),
            "");
  const std::string replaced =
      "ab\xEF\xBF\xBD"
      "cd";
  EXPECT_EQ(callFunction("badReturn"), replaced);
  EXPECT_EQ(callFunction("badTwice"), "ab");
  EXPECT_EQ(resume(), replaced);
  EXPECT_EQ(resume(), "ab");
}

TEST_F(CoroutineTest, YieldsAcrossNativeBoundariesFail) {
  ASSERT_EQ(run(R"(
    function yieldInMetamethod()
      local t = setmetatable({}, {__index = function() coroutine.yield(1) end})
      return t.x
    end
    function yieldInSort()
      local t = {3, 1, 2}
      table.sort(t, function(a, b) coroutine.yield(1) return a < b end)
    end)"),
            "");
  for (const char* name : {"yieldInMetamethod", "yieldInSort"}) {
    EXPECT_EQ(callFunction(name), "?") << name;
    EXPECT_EQ(lastError("number"), "3020") << name;
    EXPECT_NE(lastError("message").find("attempt to yield across metamethod/C-call boundary"),
              std::string::npos)
        << lastError();
  }
}

TEST_F(CoroutineTest, NamesResolveOneLevelDeep) {
  ASSERT_EQ(run(R"(
    m = {f = function() return 'm.f' end}
    lib = {['util.trim'] = function() return 'entry util.trim' end,
           util = {trim = function() return 'nested trim' end}}
    _G['a.'] = function() return 'global a.' end
    _G['.f'] = function() return 'global .f' end
    ab = {[''] = 1}
    callable = setmetatable({}, {__call = function() return 'called' end})
    proxy = newproxy(true)
    getmetatable(proxy).__index = {f = function() end})"),
            "");
  EXPECT_EQ(callFunction("m.f"), "m.f");
  EXPECT_EQ(callFunction("lib.util.trim"), "entry util.trim");
  EXPECT_EQ(callFunction("a."), "global a.");
  EXPECT_EQ(callFunction(".f"), "global .f");

  struct Miss {
    const char* name;
    const char* error;
  };
  for (const Miss& miss : {Miss{"m.g", "3111: Table entry is not a function."},
                           Miss{"x.f", "3110: Table does not exist."},
                           Miss{"nosuch", "3100: Function does not exist."},
                           Miss{".fx", "3110: Table does not exist."},
                           Miss{"ab.", "3111: Table entry is not a function."},
                           Miss{"callable", "3100: Function does not exist."},
                           Miss{"proxy.f", "3110: Table does not exist."},
                           Miss{"m", "3100: Function does not exist."}}) {
    Value result;
    EXPECT_EQ(call("Vesko_CallFunction", {textValue(miss.name)}, &result), 0) << miss.name;
    EXPECT_EQ(result.kind, FM_KIND_TEXT) << miss.name;
    EXPECT_EQ(result.text, "") << miss.name;
    EXPECT_EQ(lastError(), miss.error) << miss.name;
  }
}

TEST_F(CoroutineTest, AFailingLookupIsARunTimeError) {
  ASSERT_EQ(run("strict = setmetatable({}, {__index = function(_, k) error('no ' .. k, 0) end})"),
            "");
  EXPECT_EQ(callFunction("strict.f"), "?");
  EXPECT_EQ(lastError(), "3020: no f");
  // A lookup that never ends is stopped by the time limit like any run.
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(1)}), "1");
  ASSERT_EQ(run("spin = setmetatable({}, {__index = function() while true do end end})"), "");
  EXPECT_EQ(callFunction("spin.f"), "?");
  EXPECT_NE(lastError().find("Time limit exceeded."), std::string::npos) << lastError();
}

TEST_F(CoroutineTest, AnUnresolvedNameWhileSuspendedReleasesTheSuspendedFunction) {
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(callFunction("nosuch"), "");
  EXPECT_EQ(lastError("number"), "3100");
  // Still "suspended": the next resume starts the new coroutine, whose
  // only value is the nil that was looked up.
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3020");
  EXPECT_NE(lastError("message").find("attempt to call a nil value"), std::string::npos);
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(CoroutineTest, ANewCallAbandonsTheSuspendedFunction) {
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(callFunction("sum"), "0");
  EXPECT_EQ(resume({numberValue(1), numberValue(1)}), "2");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(CoroutineTest, ANewCallThatCompletesOrFailsLeavesNothingActive) {
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(callFunction("echo", {textValue("done")}), "done");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(callFunction("fail"), "?");
  EXPECT_EQ(lastError(), "3020: failed");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(CoroutineTest, OtherFunctionsBetweenYieldAndResumeDisturbNothing) {
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(run("collectgarbage('collect') return 'gc'"), "gc");
  EXPECT_EQ(run("error('x')"), "?");
  EXPECT_EQ(text("Vesko_Version"), "1.5.0");
  EXPECT_EQ(text("Vesko_Timeout"), "5");
  EXPECT_EQ(text("Vesko_RunFile", {textValue("/nonexistent/x.lua")}), "?");
  EXPECT_EQ(lastError("number"), "3002");
  EXPECT_EQ(resume(), "2");
  EXPECT_EQ(resume(), "3");
}

TEST_F(CoroutineTest, FiftyArguments) {
  std::vector<Value> arguments;
  for (int i = 1; i <= 50; ++i) arguments.push_back(numberValue(i));
  ASSERT_EQ(run("function count(...) local s = 0 for i = 1, select('#', ...) do "
                "s = s + select(i, ...) end return select('#', ...) * 10000 + s end"),
            "");
  EXPECT_EQ(callFunction("count", arguments), "501275");
  EXPECT_EQ(callFunction("yieldTypes"), "");
  std::string types = "number";
  for (int i = 2; i <= 50; ++i) types += ",number";
  EXPECT_EQ(resume(arguments), types);
}

TEST_F(CoroutineTest, EveryResumeGetsAFreshTimeBudget) {
  ASSERT_EQ(run("function measure() coroutine.yield(0) return vesko.ScriptTime() end"), "");
  EXPECT_EQ(callFunction("measure"), "0");
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  Value result;
  resume({}, &result);
  EXPECT_LT(result.number, 0.5);

  ASSERT_EQ(text("Vesko_Timeout", {numberValue(1)}), "1");
  ASSERT_EQ(run("function spin() coroutine.yield(1) while true do end end"), "");
  EXPECT_EQ(callFunction("spin"), "1");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(resume(), "?");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.5);
  EXPECT_NE(lastError().find("Time limit exceeded."), std::string::npos);
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

}  // namespace
}  // namespace vesko_test
