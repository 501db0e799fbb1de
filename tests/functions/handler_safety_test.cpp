// What a script can do to the plug-in's own steps: counterfeit timestamps,
// a rewritten registry, errors raised by finalizers while a handler works,
// and host callbacks made when no external function runs.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/support/host_failure_sweep.h"
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::dateValue;
using vesko_host::textValue;

using HandlerSafetyTest = PluginTest;

TEST_F(HandlerSafetyTest, ACounterfeitTimestampIsNoTimestamp) {
  // Zero-size userdata dressed as a timestamp: the debug library refuses
  // it the timestamp metatable itself, but not a copy of its methods.
  ASSERT_EQ(run(R"(
    mt = getmetatable(vesko.timestamp.new())
    fake = newproxy()
    assert(not pcall(debug.setmetatable, fake, mt))
    debug.setmetatable(fake, {__index = mt.__index, __tostring = mt.__tostring})
    function misuse(f, ...) local ok, message = pcall(f, ...) return tostring(ok) .. ': ' .. message end
    function yieldFake() coroutine.yield(fake) return fake end)"),
            "");
  // As a result, a yield and a completed function's result: untouched.
  Value result;
  EXPECT_EQ(call("Vesko_RunScript", {textValue("return fake")}, &result), 0);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  result = {};
  EXPECT_EQ(call("Vesko_CallFunction", {textValue("yieldFake")}, &result), 0);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  result = {};
  EXPECT_EQ(call("Vesko_ResumeFunction", {}, &result), 0);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  EXPECT_EQ(lastError(), "0");
  // Its methods refuse it, as they refuse any other userdata.
  EXPECT_EQ(run("return misuse(vesko.timestamp.set, fake, 1)"),
            "false: bad argument #1 to '?' (vesko.timestamp expected, got userdata)");
  EXPECT_EQ(run("return misuse(vesko.timestamp.value, fake)"),
            "false: bad argument #1 to '?' (vesko.timestamp expected, got userdata)");
  EXPECT_EQ(run("return misuse(tostring, fake)"),
            "false: bad argument #1 to '?' (vesko.timestamp expected, got userdata)");
  EXPECT_NE(run("return misuse(function() return fake:set(1) end)")
                .find("calling 'set' on bad self (vesko.timestamp expected, got userdata)"),
            std::string::npos);
  // A real one still works through the same metatable.
  EXPECT_EQ(run("return vesko.timestamp.new(5):set(6):value()"), "6");
}

TEST_F(HandlerSafetyTest, ARewrittenRegistryEntryForTimestamps) {
  for (const char* entry : {"42", "nil", "{}", "setmetatable({}, {__index = error})"}) {
    SCOPED_TRACE(entry);
    ASSERT_EQ(run(std::string("debug.getregistry()['vesko.timestamp'] = ") + entry), "");
    // Arguments, new, results and the methods keep the real type.
    EXPECT_EQ(run("local d = ... return type(d) .. ' ' .. d:value()", {dateValue(1970, 1, 1)}),
              "userdata 14400");
    EXPECT_EQ(run("return vesko.timestamp.new(3):set(4):value()"), "4");
    Value result;
    EXPECT_EQ(call("Vesko_RunScript", {textValue("return ..."), dateValue(2024, 2, 29)}, &result),
              0);
    EXPECT_EQ(result.kind, FM_KIND_TIMESTAMP);
    EXPECT_EQ(run("return #tostring(vesko.timestamp.new(0))"), "19");
  }
  // A metatable on the registry itself runs no code inside the plug-in.
  ASSERT_EQ(run("debug.getregistry()['vesko.timestamp'] = nil "
                "setmetatable(debug.getregistry(), {__index = function() error('looked') end})"),
            "");
  EXPECT_EQ(run("return (...):value()", {dateValue(1970, 1, 2)}), "100800");
}

// A finalizer, re-armed after every collection, that raises at the
// collection `countdown` counts down to.  With the collector running a
// whole cycle at every allocation check, the first one after the countdown
// is set is the first allocation a handler makes.
constexpr const char* kFailingFinalizer = R"(
  function arm()
    local proxy = newproxy(true)
    getmetatable(proxy).__gc = function()
      arm()
      if countdown then
        countdown = countdown - 1
        if countdown == 0 then countdown = nil error(failure, 0) end
      end
    end
  end
  function collectAlways()
    collectgarbage('setpause', 0) collectgarbage('setstepmul', 1000000)
    collectgarbage()  -- the pause counts from the end of a cycle
  end
  function collectNormally() collectgarbage('setpause', 200) collectgarbage('setstepmul', 200) end
  function waiter() local a = coroutine.yield(0) return a end
  function failInside(value, f, ...)
    arm()
    collectAlways()
    failure, countdown = value, 1
    local ok, message = pcall(f, ...)
    countdown = nil
    collectNormally()
    return ok, message
  end)";

TEST_F(HandlerSafetyTest, AFinalizerErrorInsideANestedHandlerIsAScriptError) {
  ASSERT_EQ(run(kFailingFinalizer), "");
  struct Case {
    const char* nested;
    const char* record;
  };
  // Loading is protected by the interpreter: an error then is a load
  // failure of another kind.
  for (const Case& c :
       {Case{R"(Vesko_ResumeFunction(\"x\"; \"y\"))", "3020: from finalizer"},
        Case{R"(Vesko_CallFunction(\"waiter\"; \"x\"))", "3020: from finalizer"},
        Case{R"(Vesko_RunScript(\"return ...\"; \"x\"))", "3018: from finalizer"}}) {
    SCOPED_TRACE(c.nested);
    ASSERT_EQ(callFunction("waiter"), "0");
    // The outer pcall gets the host's answer, not a stray value, and the
    // nested call's record names the finalizer's error.
    EXPECT_EQ(
        run(std::string("local ok, message = failInside('from finalizer', vesko.Evaluate, \"") +
            c.nested + "\") return type(message) .. ' ' .. vesko.Evaluate('Vesko_LastError')"),
        std::string("string ") + c.record);
    // The interpreter goes on normally.
    EXPECT_EQ(run("return select(2, pcall(error, 'plain', 0))"), "plain");
  }
  // Any error value.
  ASSERT_EQ(callFunction("waiter"), "0");
  EXPECT_EQ(run("failInside({}, vesko.Evaluate, 'Vesko_ResumeFunction(\"x\")') "
                "return vesko.Evaluate('Vesko_LastError')"),
            "3020: (error object is a table value)");
}

TEST_F(HandlerSafetyTest, AFinalizerErrorInsideATopLevelHandlerIsAScriptError) {
  ASSERT_EQ(run(kFailingFinalizer), "");
  // After a full collection the next step is due once the heap has grown by
  // its own size: the large argument grows it, and the allocation check for
  // the next argument runs a whole cycle, whose finalizer raises.
  const Value large = textValue(std::string(8 << 20, 'a'));
  const char* arm =
      "arm() collectgarbage('setstepmul', 1000000) collectgarbage() "
      "failure, countdown = 'at the top', 1";
  for (const char* function : {"Vesko_ResumeFunction", "Vesko_CallFunction"}) {
    SCOPED_TRACE(function);
    ASSERT_EQ(callFunction("waiter"), "0");
    ASSERT_EQ(run(arm), "");
    const std::vector<Value> arguments =
        std::string(function) == "Vesko_CallFunction"
            ? std::vector<Value>{textValue("waiter"), large, textValue("x")}
            : std::vector<Value>{large, textValue("x")};
    EXPECT_EQ(text(function, arguments), "?");
    EXPECT_EQ(lastError(), "3020: at the top");
    // The function is over: a failed resume ends it, and a call that
    // never started leaves nothing to resume.
    EXPECT_EQ(text("Vesko_ResumeFunction"), "?");
    EXPECT_EQ(lastError("number"), "3250");
    ASSERT_EQ(run("collectgarbage('setstepmul', 200) return 1"), "1");
  }
}

TEST_F(HandlerSafetyTest, HostCallbacksOutsideAnExternalFunctionRaise) {
  const std::string path = ::testing::TempDir() + "vesko_finalizer_output.txt";
  std::remove(path.c_str());
  ASSERT_EQ(run(R"(
    local path = ...
    keep = newproxy(true)
    getmetatable(keep).__gc = function()
      local file = io.open(path, 'w')
      for _, f in ipairs({vesko.Evaluate, vesko.ExecuteSQL}) do
        local ok, message = pcall(f, '1+1')
        file:write(tostring(ok), ' ', message, '\n')
      end
      file:close()
    end)",
                {textValue(path)}),
            "");
  vesko_host::shutdownPlugin(plugin_);
  std::ifstream file(path);
  std::stringstream output;
  output << file.rdbuf();
  EXPECT_EQ(output.str(),
            "false vesko.Evaluate() can only be called while an external function runs.\n"
            "false vesko.ExecuteSQL() can only be called while an external function runs.\n");
  std::remove(path.c_str());
}

TEST_F(HandlerSafetyTest, AHostFailureDuringShutdownLeavesALaterEnableWorking) {
  sweepHostFailures(
      [&] {
        if (vesko_host::registeredCount() == 0) {
          ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
        }
        // Something for the shutdown to close: a kept chunk, a suspended
        // function, host objects held by the interpreter.
        ASSERT_EQ(run("function pause() coroutine.yield(vesko.Evaluate('1+1')) end return 1"), "1");
        ASSERT_EQ(text("Vesko_CallFunction", {textValue("pause")}), "2");
      },
      [&] { vesko_host::shutdownPlugin(plugin_); },
      [&](bool) {
        EXPECT_EQ(vesko_host::registeredCount(), 0u);
        ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
        EXPECT_EQ(run("return 1"), "1");
      });
}

}  // namespace
}  // namespace vesko_test
