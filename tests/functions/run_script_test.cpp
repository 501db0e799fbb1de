// Vesko_RunScript: arguments, results, error codes and the stack between
// calls.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::booleanValue;
using vesko_host::containerValue;
using vesko_host::dateValue;
using vesko_host::numberValue;
using vesko_host::textValue;
using vesko_host::timestampValue;
using RunScriptTest = PluginTest;

TEST_F(RunScriptTest, FirstResultComesBack) {
  EXPECT_EQ(run("return 1+1"), "2");
  EXPECT_EQ(lastError(), "0");
  EXPECT_EQ(lastError("message"), "");
  EXPECT_EQ(run("return 1, 2, 3"), "1");
  EXPECT_EQ(run("return true"), "1");
  EXPECT_EQ(run("return false"), "0");
  EXPECT_EQ(run("return 0.1"), "0.1");
  EXPECT_EQ(run("return '42'"), "42");
  EXPECT_EQ(run("return 'h\\195\\169llo'"), "h\xC3\xA9llo");
}

TEST_F(RunScriptTest, StringsAreCutToTheirWellFormedPrefix) {
  EXPECT_EQ(run("return 'abc\\255def'"), "abc");
  EXPECT_EQ(run("return '\\192\\128x'"), "");
  EXPECT_EQ(run("return 'a\\0b'"), "a");
  EXPECT_EQ(run("return 'ab\\226\\130'"), "ab");  // a sequence cut short at the end
}

TEST_F(RunScriptTest, UnconvertibleResultsLeaveTheResultUntouched) {
  for (const char* script : {"return {}", "return print", "return nil, 5", "", "return io.stdout",
                             "return coroutine.create(function() end)"}) {
    Value result;
    EXPECT_EQ(call("Vesko_RunScript", {textValue(script)}, &result), 0) << script;
    EXPECT_EQ(result.kind, FM_KIND_INVALID) << script;
    EXPECT_EQ(lastError(), "0") << script;
  }
}

TEST_F(RunScriptTest, ArgumentsKeepTheirPositionsAndKinds) {
  EXPECT_EQ(run("return select('#', ...) .. ':' .. type(select(1, ...)) .. type(select(2, ...)) "
                ".. type(select(3, ...))",
                {numberValue(1), textValue("a"), dateValue(2024, 1, 15)}),
            "3:numberstringuserdata");
  EXPECT_EQ(run("local a, b, c = ... return select('#', ...) .. tostring(a) .. tostring(b) .. c",
                {containerValue(), booleanValue(true), textValue("z")}),
            "3nilnilz");
  EXPECT_EQ(run("return ...", {textValue("abc")}), "abc");
  Value untouched;
  EXPECT_EQ(call("Vesko_RunScript", {textValue("return ...")}, &untouched), 0);
  EXPECT_EQ(untouched.kind, FM_KIND_INVALID);
}

TEST_F(RunScriptTest, TextArgumentsStopAtAnEmbeddedNul) {
  EXPECT_EQ(run("return #(...)", {textValue(std::string("ab\0cd", 5))}), "2");
  EXPECT_EQ(run("return ...", {textValue("\xE2\x82\xAC \xF0\x9F\x98\x80")}),
            "\xE2\x82\xAC \xF0\x9F\x98\x80");
}

TEST_F(RunScriptTest, DatesBecomeTimestampsWithTheEpochOffset) {
  // 2024-01-15 00:00:00 is 1705276800 seconds after 1970; the offset puts
  // the payload 14400 seconds above that.
  EXPECT_EQ(run("return vesko.timestamp.value(...)", {dateValue(2024, 1, 15)}), "1705291200");
  Value back;
  const Value sent = timestampValue(2026, 12, 8, 13, 45, 30.5);
  ASSERT_EQ(call("Vesko_RunScript", {textValue("return ..."), sent}, &back), 0);
  EXPECT_EQ(back.kind, FM_KIND_TIMESTAMP);
  EXPECT_EQ(back.seconds, sent.seconds);
  ASSERT_EQ(call("Vesko_RunScript", {textValue("return vesko.timestamp.new(0)")}, &back), 0);
  EXPECT_EQ(back.seconds, 62135582400.0);
}

TEST_F(RunScriptTest, LoadAndRunFailuresAreRecorded) {
  Value result;
  EXPECT_EQ(call("Vesko_RunScript", {textValue("return +")}, &result), -1);
  EXPECT_EQ(result.kind, FM_KIND_INVALID);
  EXPECT_EQ(lastError("number"), "3010");
  EXPECT_EQ(lastError("message").rfind("[string \"return +\"]:1:", 0), 0u) << lastError();

  EXPECT_EQ(run("local t = nil; return t.x"), "?");
  EXPECT_EQ(lastError("number"), "3020");
  EXPECT_NE(lastError("message").find("attempt to index local 't'"), std::string::npos);

  EXPECT_EQ(run("error(42, 0)"), "?");
  EXPECT_EQ(lastError(), "3020: 42");
  EXPECT_EQ(run("error('plain', 0)"), "?");
  EXPECT_EQ(lastError(), "3020: plain");
  EXPECT_EQ(run("error({})"), "?");
  EXPECT_EQ(lastError(), "3020: (error object is a table value)");
  EXPECT_EQ(run("error()"), "?");
  EXPECT_EQ(lastError(), "3020: (error object is a nil value)");
}

TEST_F(RunScriptTest, AYieldAtTheChunksOwnLevelIsARunTimeError) {
  EXPECT_EQ(run("coroutine.yield(1)"), "?");
  EXPECT_EQ(lastError("number"), "3020");
  EXPECT_NE(lastError("message").find("attempt to yield across metamethod/C-call boundary"),
            std::string::npos);
  EXPECT_EQ(run("local co = coroutine.wrap(function() coroutine.yield(7) end) return co()"), "7");
}

TEST_F(RunScriptTest, TheStateSurvivesFailures) {
  EXPECT_EQ(run("before = 1 error('x')"), "?");
  EXPECT_EQ(run("return before"), "1");
  EXPECT_EQ(lastError(), "0");
}

TEST_F(RunScriptTest, ANumberScriptIsReadAsItsText) {
  Value result;
  EXPECT_EQ(call("Vesko_RunScript", {numberValue(7)}, &result), -1);
  EXPECT_EQ(lastError("number"), "3010");
}

}  // namespace
}  // namespace vesko_test
