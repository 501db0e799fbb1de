// Vesko_Timeout, the time-limit hook and vesko.ScriptTime.
#include <chrono>

#include "tests/plugin/plugin_fixture.h"

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

}  // namespace
}  // namespace vesko_test
