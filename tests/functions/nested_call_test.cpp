// External functions called again from a calculation that a running script
// evaluates: the outer call must come through intact.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {


class NestedCallTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(run(R"(
      function gen() coroutine.yield(1) coroutine.yield(2) return 3 end
      -- Evaluates a calculation that runs another script.
      function nested(script)
        return vesko.Evaluate('Vesko_RunScript("' .. script .. '")')
      end)"),
              "");
  }
};

TEST_F(NestedCallTest, ARunScriptInsideARunningChunk) {
  EXPECT_EQ(run("local a = 10 local r = nested('collectgarbage() return 20') "
                "return a + tonumber(r)"),
            "30");
  EXPECT_EQ(run("return 1, nested('return 2'), 3"), "1");
  EXPECT_EQ(run("pcall(nested, 'error(7, 0)') return 'continued'"), "continued");
  EXPECT_EQ(run("return nested('return vesko.Evaluate(1+1)') .. '!'"), "2!");
}

// Each level evaluates a chain of 1500 operators and, at its far end, the
// script again: all levels draw on one budget of evaluator depth, and the
// level past it gets the host's nesting error instead of a stack overflow.
TEST_F(NestedCallTest, NestedLongCalculationsShareOneDepthBudget) {
  EXPECT_EQ(run(R"lua(
      levels, refused = 0, nil
      function deeper()
        levels = levels + 1
        local ok, e = pcall(vesko.Evaluate,
                            'Vesko_RunScript("return deeper()")' .. string.rep(' & ""', 1500))
        if not ok then refused = refused or e end
        return ok and e or ""
      end
      deeper()
      return tostring(levels > 1 and levels < 10) .. " " .. refused:match("FileMaker error %d+"))lua"),
            "true FileMaker error 1200");
  // The budget is whole again afterwards.
  EXPECT_EQ(run("return vesko.Evaluate('1' .. string.rep(' + 1', 1500))"), "1501");
}

TEST_F(NestedCallTest, TheOuterEnvironmentComesBackAfterANestedCall) {
  EXPECT_EQ(run("nested('return 1') return vesko.Evaluate('\"after\"')"), "after");
  ASSERT_EQ(run("function envCheck() nested('return 1') return vesko.Evaluate('\"after\"') end"),
            "");
  EXPECT_EQ(callFunction("envCheck"), "after");
}

TEST_F(NestedCallTest, ACallFunctionInsideARunningChunk) {
  EXPECT_EQ(run("return vesko.Evaluate('Vesko_CallFunction(\"gen\")')"), "1");
  // The nested call's coroutine is the one left suspended.
  EXPECT_EQ(resume(), "2");
  EXPECT_EQ(resume(), "3");
}

TEST_F(NestedCallTest, ACallFunctionInsideARunningCoroutine) {
  ASSERT_EQ(run(R"(
    function outer()
      local r = vesko.Evaluate('Vesko_CallFunction("gen")')
      -- The nested call released this coroutine as the current one; a full
      -- collection must not take it while it runs.
      nested('collectgarbage()')
      collectgarbage('collect')
      coroutine.yield('outer got ' .. r)
      return 'outer done'
    end)"),
            "");
  EXPECT_EQ(callFunction("outer"), "outer got 1");
  EXPECT_EQ(lastError("number"), "3200");
  // The outer call's coroutine is current again.
  EXPECT_EQ(resume(), "outer done");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(NestedCallTest, ResumingTheRunningFunctionIsRefused) {
  ASSERT_EQ(run(R"(
    function selfResume()
      coroutine.yield(1)
      pcall(vesko.Evaluate, 'Vesko_ResumeFunction')
      return vesko.Evaluate('Vesko_LastError')
    end)"),
            "");
  EXPECT_EQ(callFunction("selfResume"), "1");
  EXPECT_EQ(resume(), "3020: Cannot resume the function that is running.");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(NestedCallTest, ResumingAnotherSuspendedFunctionFromACoroutine) {
  ASSERT_EQ(run(R"(
    function driver()
      local first = vesko.Evaluate('Vesko_CallFunction("gen")')
      local second = vesko.Evaluate('Vesko_ResumeFunction')
      collectgarbage('collect')
      return first .. second
    end)"),
            "");
  EXPECT_EQ(callFunction("driver"), "12");
  EXPECT_EQ(resume(), "?");
  EXPECT_EQ(lastError("number"), "3250");
}

TEST_F(NestedCallTest, EveryFunctionNestsInsideARunningCoroutine) {
  ASSERT_EQ(run(R"(
    function everything()
      local answers = {
        vesko.Evaluate('Vesko_Version("long")'),
        vesko.Evaluate('Vesko_Timeout'),
        nested('collectgarbage() return 7'),
        vesko.Evaluate('Vesko_RunFile("/nonexistent.lua")'),
        vesko.Evaluate('Vesko_LastError("number")'),
        vesko.Evaluate('Vesko_CallFunction("gen")'),
        vesko.Evaluate('Vesko_ResumeFunction'),
      }
      collectgarbage('collect')
      return table.concat(answers, ',')
    end)"),
            "");
  EXPECT_EQ(callFunction("everything"), "Vesko 1.5.0,5,7,,3002,1,2");
  EXPECT_EQ(lastError(), "0");
}

TEST_F(NestedCallTest, EveryOtherFunctionNests) {
  EXPECT_EQ(run("return vesko.Evaluate('Vesko_Version(\"long\")')"), "Vesko 1.5.0");
  EXPECT_EQ(run("return vesko.Evaluate('Vesko_Timeout')"), "5");
  EXPECT_EQ(run("local r = vesko.Evaluate('Vesko_RunFile(\"/nonexistent.lua\")') "
                "return r .. vesko.Evaluate('Vesko_LastError(\"number\")')"),
            "3002");
  EXPECT_EQ(run("pcall(nested, 'error(1)') return vesko.Evaluate('Vesko_LastError(\"number\")')"),
            "3020");
}

}  // namespace
}  // namespace vesko_test
