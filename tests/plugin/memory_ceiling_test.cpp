// The interpreter's memory ceiling: a script that runs out of memory fails
// alone, the next call works, and start-up is never cut short by it.
#include <cstdlib>
#include <utility>

#include "tests/plugin/plugin_fixture.h"

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

}  // namespace
}  // namespace vesko_test
