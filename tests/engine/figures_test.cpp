// vesko.Stats(): the figures after a known sequence of calls.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;

// The figures of every function, "calls/failures" in the order of their
// numbers, then the text cache's "cached hits misses evictions".
constexpr const char* kSummary =
    "local s, out = vesko.Stats(), {} "
    "for _, name in ipairs({'Vesko_Version', 'Vesko_LastError', 'Vesko_RunScript', "
    "'Vesko_RunFile', 'Vesko_CallFunction', 'Vesko_Timeout', 'Vesko_ResumeFunction'}) do "
    "local f = s.functions[name] out[#out + 1] = f.calls .. '/' .. f.failures end "
    "local t = s.texts out[#out + 1] = t.cached .. ' ' .. t.hits .. ' ' .. t.misses .. ' ' .. "
    "t.evictions return table.concat(out, ' ')";

class FiguresTest : public PluginTest {
 protected:
  void callEachOnce() {
    EXPECT_EQ(run("return 1"), "1");
    EXPECT_EQ(run("return 1"), "1");  // kept
    EXPECT_EQ(run("return 1"), "1");  // found
    EXPECT_EQ(run("error('x')"), "?");
    EXPECT_EQ(lastError("number"), "3020");
    EXPECT_NE(text("Vesko_Version"), "?");
    EXPECT_EQ(text("Vesko_Timeout", {numberValue(0)}), "?");
    call("Vesko_CallFunction", {textValue("nothing")});  // answers 0, records 3100
    EXPECT_EQ(text("Vesko_CallFunction", {textValue("tostring"), numberValue(3)}), "3");
    EXPECT_EQ(text("Vesko_ResumeFunction"), "?");
    EXPECT_EQ(text("Vesko_RunFile", {textValue("/nonexistent/x.lua")}), "?");
  }
};

TEST_F(FiguresTest, CallsFailuresAndCacheFiguresAfterAKnownSequence) {
  EXPECT_EQ(run(kSummary), "0/0 0/0 1/0 0/0 0/0 0/0 0/0 0 0 1 0");
  callEachOnce();
  // The summary's own run is counted (it has started), and kept from its
  // second run on.
  EXPECT_EQ(run(kSummary), "1/0 1/0 6/1 1/1 2/1 1/1 1/1 2 1 5 0");
  EXPECT_EQ(run(kSummary), "1/0 1/0 7/1 1/1 2/1 1/1 1/1 2 2 5 0");
  EXPECT_EQ(run(kSummary), "1/0 1/0 8/1 1/1 2/1 1/1 1/1 2 3 5 0");

  // Every field is there, a number.
  EXPECT_EQ(run("local s, n = vesko.Stats(), 0 "
                "for _, t in pairs({s.texts, s.files}) do for _, k in ipairs({'cached', 'bytes', "
                "'hits', 'misses', 'evictions'}) do assert(type(t[k]) == 'number', k) n = n + 1 "
                "end end "
                "assert(type(s.memory.in_use) == 'number' and s.memory.limit > 0) "
                "assert(s.stopped_by_time_limit == 0 and s.nesting_depth == 1) return n"),
            "10")
      << lastError();
  EXPECT_EQ(run("local s = vesko.Stats() return s.texts.bytes > 0 and s.files.bytes == 0 and "
                "s.memory.in_use > 100000 and s.memory.in_use <= collectgarbage('count') * 1024"),
            "1")
      << lastError();

  // A new interpreter starts the counts again.
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  EXPECT_EQ(run(kSummary), "0/0 0/0 1/0 0/0 0/0 0/0 0/0 0 0 1 0");
}

TEST_F(FiguresTest, NestingDepthAndRunsTheTimeLimitStopped) {
  EXPECT_EQ(run("return vesko.Stats().nesting_depth"), "1");
  EXPECT_EQ(run("return vesko.Evaluate('Vesko_RunScript(\"return vesko.Stats().nesting_depth\")')"),
            "2");
  EXPECT_EQ(run("return vesko.Stats().nesting_depth"), "1");

  ASSERT_NE(text("Vesko_Timeout", {numberValue(1)}), "?");
  EXPECT_EQ(run("while true do end"), "?");
  // A stop of a nested run is one stop of the whole nest.
  EXPECT_EQ(run("function spin() while true do end end "
                "return vesko.Evaluate('Vesko_CallFunction(\"spin\")')"),
            "?");
  EXPECT_EQ(run("local s = vesko.Stats() return s.stopped_by_time_limit .. ' ' .. "
                "s.functions.Vesko_RunScript.failures .. ' ' .. "
                "s.functions.Vesko_CallFunction.failures"),
            "2 2 1");
  ASSERT_NE(text("Vesko_Timeout", {numberValue(5)}), "?");
}

// With a ceiling: its figure, and the cache's share of it.
using FiguresCeilingTest = PluginWithCeilingTest<4000000>;

TEST_F(FiguresCeilingTest, TheCachesStayWithinAQuarterOfTheCeilingAndGiveItBack) {
  EXPECT_EQ(run("return vesko.Stats().memory.limit"), "4000000");
  // Texts of about 100 kB each, kept, overflow a quarter of the ceiling.
  for (int i = 0; i < 20; ++i) {
    const std::string text = "return " + std::to_string(i) + " --" + std::string(100000, '.');
    run(text);
    EXPECT_EQ(run(text), std::to_string(i));
  }
  EXPECT_EQ(
      run("local s = vesko.Stats() "
          "return s.texts.bytes <= 1000000 and s.texts.cached >= 3 and s.texts.evictions > 0"),
      "1")
      << lastError();
  // Running out of memory gives every kept chunk back.
  EXPECT_EQ(run("local t = {} for i = 1, 1e7 do t[i] = {} end"), "?");
  EXPECT_EQ(lastError("number"), "3022");
  EXPECT_EQ(run("local s = vesko.Stats() return s.texts.cached .. ' ' .. s.texts.bytes"), "0 0");
  // Also when the script catches the error and goes on.
  run("return 'again'");
  run("return 'again'");
  EXPECT_EQ(run("return (pcall(function() local t = {} for i = 1, 1e7 do t[i] = {} end end))"),
            "0");
  EXPECT_EQ(run("return vesko.Stats().texts.cached"), "0");
}

}  // namespace
}  // namespace vesko_test
