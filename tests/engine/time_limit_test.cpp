// Vesko_Timeout, the time-limit hook and vesko.ScriptTime.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::dateValue;
using vesko_host::numberValue;
using vesko_host::textValue;
using TimeLimitTest = PluginTest;

TEST_F(TimeLimitTest, DefaultsAndTuning) {
  EXPECT_EQ(text("Vesko_Timeout"), "5");
  EXPECT_EQ(text("Vesko_Timeout", {textValue("tuning")}), "100");
  EXPECT_EQ(text("Vesko_Timeout", {numberValue(10)}), "10");
  EXPECT_EQ(text("Vesko_Timeout", {textValue("")}), "10");
  EXPECT_EQ(text("Vesko_Timeout", {textValue(""), numberValue(500)}), "10");
  EXPECT_EQ(text("Vesko_Timeout", {textValue("tuning")}), "500");
  EXPECT_EQ(text("Vesko_Timeout", {textValue(""), numberValue(2000000)}), "10");
  EXPECT_EQ(text("Vesko_Timeout", {textValue("tuning")}), "1000000");
  EXPECT_EQ(text("Vesko_Timeout", {textValue(""), numberValue(-5)}), "10");
  EXPECT_EQ(text("Vesko_Timeout", {textValue("tuning")}), "0");
  EXPECT_EQ(run("return debug.gethook()"), "");  // interval 0: no hook at all
  EXPECT_EQ(lastError(), "0");
}

TEST_F(TimeLimitTest, BadParametersFailAndChangeNothingAfterThem) {
  for (const Value& bad :
       {numberValue(0), numberValue(-1), numberValue(0.5), textValue("5"), dateValue(2020, 1, 1)}) {
    EXPECT_EQ(text("Vesko_Timeout", {bad}), "?");
    EXPECT_EQ(lastError(), "3300: Not a valid number of seconds for timeout.");
  }
  EXPECT_EQ(text("Vesko_Timeout"), "5");
  EXPECT_EQ(text("Vesko_Timeout", {numberValue(7), textValue("abc")}), "?");
  EXPECT_EQ(lastError(), "3350: Not a valid number of instructions for timeout tuning.");
  EXPECT_EQ(text("Vesko_Timeout"), "7");  // the seconds were applied first
  EXPECT_EQ(text("Vesko_Timeout", {textValue("tuning")}), "100");
}

TEST_F(TimeLimitTest, ScriptTime) {
  EXPECT_EQ(run("return vesko.ScriptTime() < 0.5"), "1");
  EXPECT_EQ(run("return vesko.ScriptTime('remaining') > 4"), "1");
  EXPECT_EQ(run("return vesko.ScriptTime('timeout')"), "5");
  EXPECT_EQ(run("return vesko.ScriptTime('elapsedSoFar') < 0.5"), "1");
  EXPECT_EQ(run("return vesko.ScriptTime('Elapsed')"), "?");
  EXPECT_NE(lastError().find("Unknown argument to vesko.ScriptTime()"), std::string::npos);
  EXPECT_EQ(run("return vesko.ScriptTime({})"), "?");
  EXPECT_NE(lastError().find("bad argument #1 to 'ScriptTime'"), std::string::npos);
}

TEST_F(TimeLimitTest, RunawayScriptsAreStopped) {
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(1)}), "1");
  const char* scripts[] = {
      "while true do end",
      // Nearly all the time is spent inside the protected call.
      "while true do pcall(function() for i = 1, 30 do end end) end",
      // Each stop is caught and the loop retried.
      "while true do pcall(function() while true do end end) end",
      "local co = coroutine.wrap(function() while true do end end) co()",
  };
  for (const char* script : scripts) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(script), "?") << script;
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 2.5) << script;
    EXPECT_EQ(lastError("number"), "3020") << script;
    const std::string message = lastError("message");
    EXPECT_NE(message.find("Time limit exceeded."), std::string::npos) << message;
  }
  // The next run is armed afresh.
  EXPECT_EQ(run("local n = 0 for i = 1, 1000 do n = n + i end return n"), "500500");
}

// Scripts that must stop within about two seconds under Vesko_Timeout(1)
// and leave the interpreter usable.
class RunawayTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(text("Vesko_Timeout", {numberValue(1)}), "1");
  }

  // Runs `name` with `arguments` and expects a time-limit failure soon.
  void expectStopped(const std::string& name, const std::vector<Value>& arguments,
                     const std::string& what) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(text(name, arguments), "?") << what;
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 2.5) << what;
    EXPECT_EQ(lastError("number"), "3020") << what;
    EXPECT_EQ(run("return 1"), "1") << what;
  }
  void expectStopped(const std::string& script) {
    expectStopped("Vesko_RunScript", {textValue(script)}, script);
  }
};

TEST_F(RunawayTest, NestedRunsKeepTheOutermostDeadline) {
  expectStopped("while true do vesko.Evaluate([[Vesko_RunScript(\"return 1\")]]) end");
  ASSERT_EQ(run("function one() return 1 end "
                "function gen() while true do coroutine.yield(1) end end"),
            "");
  expectStopped("while true do vesko.Evaluate([[Vesko_CallFunction(\"one\")]]) end");
  expectStopped(
      "vesko.Evaluate([[Vesko_CallFunction(\"gen\")]]) "
      "while true do vesko.Evaluate([[Vesko_ResumeFunction]]) end");
  expectStopped(
      "while true do pcall(vesko.Evaluate, "
      "[[Vesko_RunScript(\"for i = 1, 100 do end\")]]) end");
  ASSERT_EQ(run("function nestedLoop() "
                "while true do vesko.Evaluate([[Vesko_RunScript(\"return 1\")]]) end end"),
            "");
  expectStopped("Vesko_CallFunction", {textValue("nestedLoop")}, "nestedLoop");
}

// Stopping touches no frame of any stack, so deep stacks, many
// coroutines and endless tail calls stop as quickly as a plain loop.
TEST_F(RunawayTest, DeepStacksStopAsQuicklyAsALoop) {
  expectStopped("local function f() return f() end f()");
  expectStopped("coroutine.wrap(function() local function f() return f() end f() end)()");
  // A dozen coroutines, each deep in recursion and in an xpcall whose
  // handler would run on.
  const std::string nest = R"(
    local function deep(d, k) if d == 0 then return k() end return 1 + deep(d - 1, k) end
    local function nest(n)
      if n == 0 then return deep(8000, function() while true do end end) end
      return coroutine.wrap(function()
        return deep(8000, function()
          return select(2, xpcall(function() return nest(n - 1) end,
                                  function(e) while true do end end))
        end)
      end)()
    end
    )";
  expectStopped(nest + "nest(12)");
  // Every level an xpcall, each of whose handlers loops.
  expectStopped(
      "local function f(n) if n == 0 then while true do end end "
      "xpcall(function() f(n - 1) end, function() while true do end end) end f(150)");
  ASSERT_EQ(run(nest + "function nested() nest(12) end "
                       "function tails() local function f() return f() end f() end"),
            "");
  expectStopped("Vesko_CallFunction", {textValue("nested")}, "nested");
  expectStopped("Vesko_CallFunction", {textValue("tails")}, "tails");
}

TEST_F(RunawayTest, EndlessTailCallsKeepMemorySmall) {
  // Peak memory is a process's own: the run goes in a child, and the
  // child's peak may exceed what the parent holds now by little.
  long parentKilobytes = 0;
  {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("VmRSS:", 0) == 0) parentKilobytes = std::stol(line.substr(6));
    }
  }
  ASSERT_GT(parentKilobytes, 0);
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(3)}), "3");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Value result;
    const int16_t error = vesko_host::callExternal(
        "Vesko_RunScript", {textValue("local function f() return f() end f()")}, &result);
    _exit(error == -1 ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(child, &status, 0, &usage), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_LT(usage.ru_maxrss - parentKilobytes, 100 * 1024);
}

// Loops of the plug-in's own inside one C call check the deadline
// themselves: with the hook's checks a million instructions apart, a
// call right after a sleep past the deadline is stopped inside its loop.
TEST_F(TimeLimitTest, LongLoopsInsideOneCallAnswerToTheDeadline) {
  const struct {
    const char* call;
    const char* length;
  } calls[] = {
      {"base64.encode(s)", "133336"},
      {"base64.decode(b)", "100000"},
      {"ascii85.encode(s)", "125004"},
      {"ascii85.decode(a)", "100000"},
  };
  const std::string prepare =
      "local s = string.rep('x', 100000) local b = base64.encode(s) "
      "local a = ascii85.encode(s) ";
  for (const auto& [call, length] : calls) {
    ASSERT_EQ(text("Vesko_Timeout", {numberValue(5), numberValue(1000000)}), "5");
    EXPECT_EQ(run(prepare + "return #" + call), length) << call;
    ASSERT_EQ(text("Vesko_Timeout", {numberValue(1), numberValue(1000000)}), "1");
    EXPECT_EQ(run(prepare + "socket.sleep(1.2) return #" + call), "?") << call;
    EXPECT_NE(lastError("message").find("Time limit exceeded."), std::string::npos) << call;
  }
}

TEST_F(RunawayTest, ANestedRunGivesTheOuterClocksAndHookBack) {
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(5)}), "5");
  EXPECT_EQ(run("local t = os.clock() while os.clock() - t < 0.3 do end "
                "vesko.Evaluate([[Vesko_RunScript(\"return 1\")]]) "
                "return vesko.ScriptTime() >= 0.25"),
            "1");
  EXPECT_EQ(run("local t = os.clock() while os.clock() - t < 0.3 do end "
                "return vesko.Evaluate([[Vesko_RunScript(\"return "
                "vesko.ScriptTime('remaining') < 4.8 and vesko.ScriptTime() < 0.2\")]])"),
            "1");
  // A nested run that switches the hook off does not switch off the outer's.
  EXPECT_EQ(run("vesko.Evaluate([[Vesko_Timeout(\"\"; 0) & Vesko_RunScript(\"return 1\")]]) "
                "return select(3, debug.gethook())"),
            "100");
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(1), numberValue(100)}), "1");
}

TEST_F(RunawayTest, NoMessageHandlerRunsForTheTimeLimit) {
  const char* scripts[] = {
      "xpcall(function() while true do end end, function(e) while true do end end)",
      "xpcall(function() while true do end end, "
      "function(e) while true do pcall(error, e) end end)",
      "xpcall(function() while true do end end, coroutine.wrap(function() while true do end end))",
      "xpcall(function() while true do end end, "
      "function(e) xpcall(function() while true do end end, function() while true do end end) end)",
      // The stop comes out of a coroutine into the handler's thread.
      "xpcall(function() coroutine.wrap(function() while true do end end)() end, "
      "function(e) while true do end end)",
      "xpcall(function() local co = coroutine.create(function() while true do end end) "
      "coroutine.resume(co) error('again') end, function(e) while true do end end)",
      // A plain error whose handler runs past the limit.
      "xpcall(error, function(e) while true do end end)",
      // The stop comes back from a nested run.
      "xpcall(function() while true do "
      "vesko.Evaluate([[Vesko_RunScript(\"for i = 1, 100 do end\")]]) end end, "
      "function(e) while true do end end)",
  };
  for (const char* script : scripts) expectStopped(script);
  ASSERT_EQ(run("function handlerLoop() "
                "xpcall(function() while true do end end, function(e) while true do end end) end"),
            "");
  expectStopped("Vesko_CallFunction", {textValue("handlerLoop")}, "handlerLoop");
}

TEST_F(RunawayTest, MessageHandlersStillRunForOtherErrors) {
  EXPECT_EQ(run("return select(2, xpcall(function() error('x', 0) end, function(e) "
                "return 'handled ' .. e end))"),
            "handled x");
  EXPECT_EQ(run("local _, t = xpcall(function() error('x') end, debug.traceback) "
                "return (t:find('stack traceback:', 1, true)) ~= nil"),
            "1");
  // The handler is called directly: the failing function is one level up.
  EXPECT_EQ(run("return select(2, xpcall(error, function(e) "
                "return debug.getinfo(2, 'f').func == error end))"),
            "1");
}

TEST_F(RunawayTest, CoroutinesMadeWithoutAHookGetOne) {
  ASSERT_EQ(text("Vesko_Timeout", {textValue(""), numberValue(0)}), "1");
  ASSERT_EQ(run(R"(
    created = {}
    for i = 1, 3 do created[i] = coroutine.create(function() while true do end end) end
    wrapped = coroutine.wrap(function() while true do end end)
    suspended = coroutine.create(function() coroutine.yield() while true do end end)
    coroutine.resume(suspended)
    function resumeLater() coroutine.resume(created[3]) end
    function yieldThenLoop() coroutine.yield(1) while true do end end)"),
            "");
  ASSERT_EQ(text("Vesko_CallFunction", {textValue("yieldThenLoop")}), "1");
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(1), numberValue(100)}), "1");
  expectStopped("Vesko_ResumeFunction", {}, "yieldThenLoop");
  expectStopped("coroutine.resume(created[1])");
  expectStopped("wrapped()");
  expectStopped("coroutine.resume(suspended)");
  expectStopped("coroutine.wrap(function() coroutine.resume(created[2]) end)()");
  expectStopped("Vesko_CallFunction", {textValue("resumeLater")}, "resumeLater");
  // A hook the script set on a coroutine itself is left alone.
  EXPECT_EQ(run("local co = coroutine.create(function() return select(3, debug.gethook()) end) "
                "debug.sethook(co, function() end, '', 1000) "
                "return select(2, coroutine.resume(co))"),
            "1000");
  EXPECT_EQ(run("return select(2, pcall(coroutine.wrap, print))"),
            "bad argument #1 to '?' (Lua function expected)");
}

}  // namespace
}  // namespace vesko_test
