// The interpreter's memory ceiling: a script that runs out of memory fails
// alone, the next call works, and start-up is never cut short by it.
#include <cstdlib>
#include <utility>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::textValue;

// Enabled with VESKO_LUA_MEMORY_LIMIT set to `limit` bytes.
class CeilingTest : public LoadedPluginTest {
 protected:
  int64_t enableWithLimit(const char* limit) {
    setenv("VESKO_LUA_MEMORY_LIMIT", limit, 1);
    const int64_t answer = vesko_host::enablePlugin(plugin_);
    unsetenv("VESKO_LUA_MEMORY_LIMIT");
    return answer;
  }
  std::string call(const std::string& name, const std::string& argument) {
    Value result;
    if (vesko_host::callExternal(name, {textValue(argument)}, &result) != 0) return "?";
    return vesko_host::textForm(result);
  }
  std::string run(const std::string& script) { return call("Vesko_RunScript", script); }
  std::string lastErrorNumber() { return call("Vesko_LastError", "number"); }
};

TEST_F(CeilingTest, TheNextCallWorksAfterRunningOutOfMemory) {
  // About 200 kB above what start-up leaves.
  ASSERT_EQ(enableWithLimit("600000"), 53);
  ASSERT_EQ(run("function grow() local t = {} for i = 1, 1e6 do t[#t + 1] = {} end end "
                "function concat() local s = '' for i = 1, 1e6 do s = s .. 'abcdefgh' end end "
                "lazy = setmetatable({}, {__index = function() grow() end}) "
                "function caught() return tostring(pcall(grow)) end"),
            "");
  struct Failure {
    const char* function;
    std::string argument;
    const char* code;
  };
  const Failure failures[] = {
      // Out of memory while the name is looked up, in the handler's own steps.
      {"Vesko_CallFunction", "lazy.f", "3022"},
      {"Vesko_RunScript", "local t = {} for i = 1, 1e6 do t[#t + 1] = {} end", "3022"},
      {"Vesko_RunScript", "local t = {} for i = 1, 1e6 do t[#t + 1] = 'abc' .. i end", "3022"},
      {"Vesko_RunScript", "local s = '' for i = 1, 1e6 do s = s .. 'abcdefgh' end", "3022"},
      {"Vesko_RunScript", "return '" + std::string(700000, 'x') + "'", "3012"},
      {"Vesko_CallFunction", "grow", "3022"},
      {"Vesko_CallFunction", "concat", "3022"},
  };
  // A script that catches its own memory error and goes on.
  const std::pair<const char*, const char*> caught[] = {
      {"Vesko_RunScript", "return tostring(pcall(grow))"}, {"Vesko_CallFunction", "caught"}};
  for (const auto& [function, argument] : caught) {
    EXPECT_EQ(call(function, argument), "false") << function;
    EXPECT_EQ(run("return 1"), "1") << function;
    EXPECT_EQ(run("return #string.rep('x', 1000)"), "1000") << function;
  }
  for (const Failure& failure : failures) {
    const std::string what = std::string(failure.function) + " " + failure.argument.substr(0, 40);
    EXPECT_EQ(call(failure.function, failure.argument), "?") << what;
    EXPECT_EQ(lastErrorNumber(), failure.code) << what;
    EXPECT_EQ(run("return 1"), "1") << what;
    EXPECT_EQ(run("return #string.rep('x', 1000)"), "1000") << what;
  }
}

TEST_F(CeilingTest, StartUpIsNeverCutShort) {
  // Each is below what start-up needs; the last two once left it half-built.
  for (const char* limit : {"150000", "250000", "320000", "360000"}) {
    ASSERT_EQ(enableWithLimit(limit), 53) << limit;
    // Whole, or too full for any script: never a script without its libraries.
    const std::string answer =
        run("return type(socket.http) .. type(string.utf8sub) .. type(re) .. type(ltn12)");
    if (answer != "tablefunctiontabletable") {
      EXPECT_EQ(answer, "?") << limit;
      const std::string code = lastErrorNumber();
      EXPECT_TRUE(code == "3012" || code == "3022") << limit << ": " << code;
    }
    vesko_host::shutdownPlugin(plugin_);
  }
}

TEST_F(CeilingTest, FinalizersAnswerToTheCeilingToo) {
  ASSERT_EQ(enableWithLimit("20000000"), 53);
  // After the memory error, the collection runs the finalizers: each of
  // them tries to keep more than the ceiling allows, or fails, or keeps
  // its object.
  const char* finalizers[] = {
      "big = string.rep('x', 1e8)",
      "big = {} for i = 1, 1e8 do big[i] = i end",
      "error('failing finalizer')",
      "kept = u",
      "for i = 1, 10 do _G['part' .. i] = string.rep('y', 1e7) end",
  };
  for (const char* finalizer : finalizers) {
    const std::string script =
        std::string("collectgarbage('stop') ") +
        "for i = 1, 3 do local u = newproxy(true) getmetatable(u).__gc = function(u) " + finalizer +
        " end end local t = {} for i = 1, 1e8 do t[i] = i end";
    EXPECT_EQ(run(script), "?") << finalizer;
    EXPECT_EQ(lastErrorNumber(), "3022") << finalizer;
    // Usable at once, and below the ceiling.
    EXPECT_EQ(run("return collectgarbage('count') * 1024 < 20000000"), "1") << finalizer;
    EXPECT_EQ(run("big = nil kept = nil for i = 1, 10 do _G['part' .. i] = nil end "
                  "collectgarbage() return #string.rep('x', 1000)"),
              "1000")
        << finalizer;
  }
}

TEST_F(CeilingTest, FinalizersAtShutdownAnswerToTheCeiling) {
  // No time limit runs in a finalizer; only the ceiling ends this one.
  ASSERT_EQ(enableWithLimit("20000000"), 53);
  ASSERT_EQ(
      run("u = newproxy(true) getmetatable(u).__gc = function() "
          "  local t = {} while true do t[#t + 1] = {} end end "
          "v = newproxy(true) getmetatable(v).__gc = function() kept = string.rep('x', 1e7) end "
          "return 1"),
      "1");
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(enableWithLimit("20000000"), 53);
  EXPECT_EQ(run("return type(u) .. type(kept)"), "nilnil");
}

TEST_F(CeilingTest, ADefaultCeilingThatACalculationCanChange) {
  unsetenv("VESKO_LUA_MEMORY_LIMIT");
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  const double byDefault = std::stod(call("Vesko_CallFunction", "vesko.MemoryLimit"));
  EXPECT_GT(byDefault, 64e6);
  EXPECT_LE(byDefault, 1073741824.0);

  Value result;
  auto limit = [&](double bytes) {
    if (vesko_host::callExternal("Vesko_CallFunction",
                                 {textValue("vesko.MemoryLimit"), vesko_host::numberValue(bytes)},
                                 &result) != 0) {
      return std::string("?");
    }
    return vesko_host::textForm(result);
  };
  EXPECT_EQ(limit(20000000), "20000000");
  EXPECT_EQ(run("return #string.rep('x', 3e7)"), "?");
  EXPECT_EQ(lastErrorNumber(), "3022");
  EXPECT_EQ(run("return #string.rep('x', 4e6)"), "4000000");
  // Below what is in use it is refused, and the ceiling stays.
  EXPECT_EQ(limit(1000), "?");
  EXPECT_EQ(lastErrorNumber(), "3020");
  EXPECT_EQ(call("Vesko_LastError", "message").find("is too low") != std::string::npos, true);
  EXPECT_EQ(limit(-1), "?");
  EXPECT_EQ(run("return vesko.MemoryLimit()"), "20000000");
  // 0: none at all.
  EXPECT_EQ(limit(0), "0");
  EXPECT_EQ(run("return #string.rep('x', 3e7)"), "30000000");

  // Each enabling starts again from the variable, 0 meaning none.
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(enableWithLimit("0"), 53);
  EXPECT_EQ(run("return vesko.MemoryLimit()"), "0");
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(enableWithLimit("30000000"), 53);
  EXPECT_EQ(run("return vesko.MemoryLimit()"), "30000000");
}

TEST_F(CeilingTest, TheErrorRecordKeepsAShortenedMessage) {
  ASSERT_EQ(enableWithLimit("0"), 53);
  // Two-byte characters end exactly at the cut.
  EXPECT_EQ(run("error(string.rep('\\195\\169', 1e7), 0)"), "?");
  EXPECT_EQ(lastErrorNumber(), "3020");
  const std::string message = call("Vesko_LastError", "message");
  EXPECT_EQ(message.size(), 65536u);
  EXPECT_EQ(message.substr(message.size() - 2), "\xC3\xA9");
  EXPECT_EQ(call("Vesko_LastError", "full").size(), 65536u + 6);
  // Three-byte characters, and a message that only a cut of the error
  // record could shorten: a number of bytes no multiple of three.
  EXPECT_EQ(run("error(string.rep('\\226\\130\\172', 1e6), 0)"), "?");
  EXPECT_EQ(call("Vesko_LastError", "message").size(), 65535u);
  EXPECT_EQ(run("error(string.rep('x', 70000), 0)"), "?");
  EXPECT_EQ(call("Vesko_LastError", "message").size(), 65536u);
  EXPECT_EQ(run("error(string.rep('x', 65536), 0)"), "?");
  EXPECT_EQ(call("Vesko_LastError", "message"), std::string(65536, 'x'));
}

using MemoryLimitTest = PluginWithCeilingTest<16000000>;

TEST_F(MemoryLimitTest, RunningOutOfMemoryIs3022AndTheStateLivesOn) {
  EXPECT_EQ(run("local s = string.rep('x', 100000000) return #s"), "?");
  EXPECT_EQ(lastError(), "3022: not enough memory");
  EXPECT_EQ(run("return #string.rep('x', 1000)"), "1000");
}

TEST_F(MemoryLimitTest, AScriptTooBigToLoadIs3012) {
  const std::string script = "return '" + std::string(20000000, 'x') + "'";
  EXPECT_EQ(run(script), "?");
  EXPECT_EQ(lastError("number"), "3012");
}

}  // namespace
}  // namespace vesko_test
