// Coroutines the plug-in holds while Lua code runs inside its own steps:
// C functions as bodies, metamethods and finalizers that call back in, and
// scripts that rewrite the registry.  Run under valgrind too: the
// interpreter is not instrumented for ASan.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::dateValue;
using vesko_host::numberValue;
using vesko_host::textValue;

class CoroutineSafetyTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(run(R"lua(
      function gen() coroutine.yield(1) coroutine.yield(2) return 3 end
      -- Calls back into every coroutine handler, and collects unless it
      -- runs inside a finalizer (a collection there, with the collector
      -- running at every allocation, would recurse without end).
      function meddle(collect)
        pcall(vesko.Evaluate, 'Vesko_CallFunction("gen")')
        pcall(vesko.Evaluate, collect and 'Vesko_RunScript("collectgarbage()")'
                                       or 'Vesko_RunScript("return 1")')
        pcall(vesko.Evaluate, 'Vesko_ResumeFunction')
        pcall(vesko.Evaluate, 'Vesko_ResumeFunction(1; "x")')
        if collect then collectgarbage() end
      end
      -- A finalizer that meddles and re-arms itself, so that one is due at
      -- whatever allocation comes next once the collector runs at every one.
      function armMeddler()
        local proxy = newproxy(true)
        getmetatable(proxy).__gc = function()
          if not meddling then meddling = true meddle(false) meddling = false end
          armMeddler()
        end
      end
      function stopMeddling()
        armMeddler = function() end
        collectgarbage('setpause', 200)
        collectgarbage('setstepmul', 200)
        collectgarbage()
      end)lua"),
              "");
  }
};

TEST_F(CoroutineSafetyTest, CFunctionsThatYieldRunThroughATrampoline) {
  // The body yields the arguments back; a resume completes it with the
  // resume's arguments as the results, as coroutine.yield returns them.
  EXPECT_EQ(callFunction("coroutine.yield", {numberValue(5)}), "5");
  EXPECT_EQ(lastError(), "3200: Coroutine yielded.");
  EXPECT_EQ(resume({numberValue(7)}), "7");
  EXPECT_EQ(lastError(), "0");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");

  // By alias and inside a table; resumed with several values, or none.
  ASSERT_EQ(run("y = coroutine.yield  t = {co = {y = coroutine.yield}}"), "");
  EXPECT_EQ(callFunction("y", {textValue("a"), numberValue(2)}), "a");
  EXPECT_EQ(resume({textValue("b"), textValue("c")}), "b");
  EXPECT_EQ(callFunction("t.co.y"), "");  // one level only: t["co.y"]
  EXPECT_EQ(lastError("number"), "3111");
  ASSERT_EQ(run("t.y = coroutine.yield"), "");
  Value when;
  EXPECT_EQ(call("Vesko_CallFunction", {textValue("t.y"), dateValue(2024, 2, 29)}, &when), 0);
  EXPECT_EQ(when.kind, FM_KIND_TIMESTAMP);
  EXPECT_EQ(resume(), "");
  EXPECT_EQ(lastError(), "0");

  // A coroutine.wrap function is a C function too.
  ASSERT_EQ(run("w = coroutine.wrap(function(a) local b = coroutine.yield(a + 1) return b end)"),
            "");
  EXPECT_EQ(callFunction("w", {numberValue(1)}), "2");
  EXPECT_EQ(lastError(), "0");
}

TEST_F(CoroutineSafetyTest, CFunctionsThatDoNotYieldWorkAsBefore) {
  EXPECT_EQ(callFunction("tostring", {numberValue(5)}), "5");
  EXPECT_EQ(callFunction("string.upper", {textValue("abc")}), "ABC");
  EXPECT_EQ(callFunction("print", {textValue("")}), "");
  EXPECT_EQ(lastError(), "0");
  // Messages read as they did with the C function as the body: no
  // position, no name for the function.
  EXPECT_EQ(callFunction("error", {textValue("boom")}), "?");
  EXPECT_EQ(lastError(), "3020: boom");
  EXPECT_EQ(callFunction("math.floor", {textValue("x")}), "?");
  EXPECT_EQ(lastError(), "3020: bad argument #1 to '?' (number expected, got string)");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(CoroutineSafetyTest, AnIndexMetamethodCallingBackWhileTheNameResolves) {
  ASSERT_EQ(run(R"(
    setmetatable(_G, {__index = function(_, name)
      if name == 'lazy' then
        meddle(true)
        return function(x) local y = coroutine.yield(x) collectgarbage() return y .. '!' end
      end
    end})
    lazyTable = setmetatable({}, {__index = function(_, name)
      meddle(true)
      return function() return name end
    end}))"),
            "");
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(callFunction("lazy", {numberValue(5)}), "5");
    EXPECT_EQ(lastError(), "3200: Coroutine yielded.");
    EXPECT_EQ(resume({textValue("done")}), "done!");
    EXPECT_EQ(callFunction("lazyTable.entry"), "entry");
    EXPECT_EQ(lastError(), "0");
  }
  // An unresolved name after meddling: the new coroutine is current, and
  // the flag is what it was before the call.
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(callFunction("nosuch"), "");
  EXPECT_EQ(lastError("number"), "3100");
  EXPECT_EQ(resume(), "?");
  EXPECT_NE(lastError().find("attempt to call a nil value"), std::string::npos) << lastError();
}

TEST_F(CoroutineSafetyTest, FinalizersCallingBackWhileArgumentsAreConverted) {
  ASSERT_EQ(run(R"(
    function twice() local a, b = coroutine.yield('ready') return tostring(a) .. b end
    -- Every allocation check runs a whole cycle and its finalizers.
    armMeddler()
    collectgarbage('setpause', 0)
    collectgarbage('setstepmul', 1000000)
    collectgarbage())"),
            "");
  for (int round = 0; round < 5; ++round) {
    const std::string called = callFunction("twice", {textValue("one"), textValue("two")});
    const std::string resumed = resume({textValue("three"), textValue("four"), textValue("five")});
    // The finalizers may refuse or replace what is running; whatever they
    // do, each call answers and nothing is used after it was freed.
    if (called == "ready" && resumed != "?") {
      EXPECT_EQ(resumed, "threefour");
    }
    // The chunk a run holds survives nested runs that clear the stack.
    EXPECT_EQ(run("return select('#', ...) .. (...)", {textValue("a"), textValue("b")}), "2a");
  }
  ASSERT_EQ(run("stopMeddling()"), "");
  EXPECT_EQ(callFunction("twice"), "ready");
  EXPECT_EQ(resume({numberValue(1), textValue("x")}), "1x");
}

TEST_F(CoroutineSafetyTest, RegistryTamperingCannotReleaseTheSuspendedFunction) {
  // Every thread and reference the registry holds is dropped; the
  // suspended function still resumes.
  ASSERT_EQ(run(R"(
    function tamper()
      local registry = debug.getregistry()
      for key, value in pairs(registry) do
        if type(key) == 'number' or type(value) == 'thread' then registry[key] = nil end
      end
      collectgarbage() collectgarbage()
    end)"),
            "");
  EXPECT_EQ(callFunction("gen"), "1");
  ASSERT_EQ(run("tamper()"), "");
  EXPECT_EQ(resume(), "2");
  ASSERT_EQ(run("tamper()"), "");
  EXPECT_EQ(resume(), "3");
  EXPECT_EQ(lastError(), "0");
  // Tampering from inside the running function too.
  ASSERT_EQ(run("function selfTamper() tamper() coroutine.yield('a') tamper() return 'b' end"), "");
  EXPECT_EQ(callFunction("selfTamper"), "a");
  EXPECT_EQ(resume(), "b");
}

TEST_F(CoroutineSafetyTest, ACallThatNeverStartedLeavesNothingToResume) {
  std::vector<Value> tooMany(9000, numberValue(1));
  for (const char* before : {"", "gen"}) {
    if (*before != '\0') {
      EXPECT_EQ(callFunction(before), "1");
    }
    EXPECT_EQ(callFunction("gen", tooMany), "?");
    EXPECT_EQ(lastError(), "3020: Too many arguments for the Lua stack.");
    EXPECT_EQ(resume(), "?");
    EXPECT_EQ(lastError("number"), "3250") << before;
  }
  // A lookup that raises is no resolution either.
  ASSERT_EQ(run("strict = setmetatable({}, {__index = function() error('no', 0) end})"), "");
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(callFunction("strict.f"), "?");
  EXPECT_EQ(lastError(), "3020: no");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
  // Too many for a resume ends the function as any failed resume does.
  EXPECT_EQ(callFunction("gen"), "1");
  EXPECT_EQ(resume(tooMany), "?");
  EXPECT_EQ(lastError(), "3020: Too many arguments for the Lua stack.");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(CoroutineSafetyTest, AFunctionAScriptEndedIsNotResumedAgain) {
  // The script gets hold of the suspended coroutine and ends it itself:
  // by running it to its end or by making it fail.
  ASSERT_EQ(run(R"lua(
    function keep() CO = coroutine.running() coroutine.yield(1) return 2 end
    function fail() CO = coroutine.running() coroutine.yield(1) error('late', 0) end
    function finish() return tostring(coroutine.resume(CO)) end)lua"),
            "");
  ASSERT_EQ(run("y = coroutine.yield"), "");
  for (const char* name : {"keep", "fail"}) {
    EXPECT_EQ(callFunction(name), "1");
    EXPECT_EQ(run("return finish()"), std::string(name) == "keep" ? "true" : "false");
    EXPECT_EQ(resume({numberValue(5)}), "?") << name;
    EXPECT_EQ(lastError(), "3250: Cannot resume. No function is active.") << name;
    EXPECT_EQ(resume(), "?");
    EXPECT_EQ(lastError("number"), "3250");
  }
  // Never started after an unresolved name, it still starts and fails.
  EXPECT_EQ(callFunction("keep"), "1");
  EXPECT_EQ(callFunction("nothing"), "");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError(), "3020: attempt to call a nil value");
}

}  // namespace
}  // namespace vesko_test
