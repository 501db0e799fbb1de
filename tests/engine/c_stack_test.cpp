// Work that recurses in C stops with a Lua error before it runs out of
// C stack: on the test's own thread and on a host thread with a stack of
// 1 MiB.
#include <pthread.h>

#include <string>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;

// Runs `body` on a new thread whose stack is 1 MiB.
template <class Body>
void onSmallStack(Body body) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 1 << 20), 0);
  pthread_t thread;
  auto start = [](void* argument) -> void* {
    (*static_cast<Body*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, start, &body), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
}

class CStackTest : public PluginTest {
 protected:
  // Runs every check on this thread and on a small one.
  template <class Checks>
  void everywhere(Checks checks) {
    checks();
    onSmallStack(checks);
  }

  // The failed call's message holds `part`.
  void expectFailure(const std::string& result, const std::string& part) {
    EXPECT_EQ(result, "?");
    EXPECT_EQ(lastError("number"), "3020");
    const std::string message = lastError("message");
    EXPECT_NE(message.find(part), std::string::npos) << message;
  }

  std::string repeated(const std::string& piece, int count) {
    std::string all;
    for (int i = 0; i < count; ++i) all += piece;
    return all;
  }
};

TEST_F(CStackTest, PatternsTooDeepForTheStackFail) {
  const std::string deep = repeated("x*", 300000);
  everywhere([&] {
    for (const char* function : {"string.find", "string.match", "string.gsub"}) {
      std::vector<Value> arguments{textValue(""), textValue(deep)};
      if (std::string(function) == "string.gsub") arguments.push_back(textValue(""));
      expectFailure(callFunction(function, arguments), "C stack overflow");
    }
    // Each kind of item that nests: quantifiers on sets and escapes, and
    // captures; gmatch's iterator checks wherever it runs.
    expectFailure(run("return string.find('', string.rep('[%a]-', 300000))"), "C stack overflow");
    expectFailure(run("return ('x'):match(string.rep('%d?', 300000))"), "C stack overflow");
    expectFailure(run("return string.gsub('x', string.rep('x+', 300000), 'y')"),
                  "C stack overflow");
    expectFailure(run("local it = string.gmatch('', string.rep('.*', 300000)) "
                      "return (coroutine.wrap(function() return it() end))()"),
                  "C stack overflow");
    EXPECT_EQ(run("return string.find('x', '(' .. string.rep('x*', 300000) .. ')')"), "?");
  });
}

TEST_F(CStackTest, OrdinaryPatternsKeepTheirResults) {
  everywhere([&] {
    EXPECT_EQ(run("return table.concat({string.find(string.rep('x', 2000), "
                  "string.rep('x*', 2000))}, ',')"),
              "1,2000");
    EXPECT_EQ(run("local n = 0 for w in string.gmatch('one two three', '%a+') do n = n + 1 end "
                  "return n"),
              "3");
    EXPECT_EQ(run("return (string.gsub('a-b-c', '(%a)%-?', '%1.'))"), "a.b.c.");
    EXPECT_EQ(run("return string.match('key = value', '^(%w+)%s*=%s*(%w+)$')"), "key");
    // Items that do not nest: plain characters, %b, %f and anchors.
    EXPECT_EQ(run("return (string.find(string.rep('ab', 100000), string.rep('ab', 100000)))"), "1");
    EXPECT_EQ(run("return string.match('f(a(b)c)', '%b()')"), "(a(b)c)");
    // A plain search matches nothing, whatever its text; match has no such
    // argument.
    EXPECT_EQ(run("local p = string.rep('x*', 300000) return string.find('a' .. p, p, 1, true)"),
              "2");
    expectFailure(run("return string.match('', string.rep('x*', 300000), 1, true)"),
                  "C stack overflow");
    EXPECT_EQ(run("return (string.find('THE (quick) fox', '%f[%a]%a+$'))"), "13");
  });
}

TEST_F(CStackTest, LpegTreesTooDeepForTheStackFail) {
  everywhere([&] {
    expectFailure(callFunction("re.match", {textValue("aaa"), textValue("\"a\"^-1000000")}),
                  "C stack overflow");
    expectFailure(run("return lpeg.match(lpeg.P'a'^-1000000, 'aaa')"), "C stack overflow");
    expectFailure(run("return (lpeg.P'a'^-1000000 * 'b'):match('ab')"), "C stack overflow");
    expectFailure(run("return lpeg.match(lpeg.P{lpeg.P'a'^-1000000}, 'aaa')"), "C stack overflow");
    expectFailure(run("return lpeg.match(lpeg.C(lpeg.P'a'^-1000000), 'aaa')"), "C stack overflow");
    // A repetition checks its body at once, and so does a lookbehind.
    expectFailure(run("local p = (lpeg.P'a'^-1000000)^1"), "C stack overflow");
    expectFailure(run("local p = lpeg.B(lpeg.P'a'^-1000000)"), "C stack overflow");
    // The interpreter is still sound.
    EXPECT_EQ(run("return re.match('aaa', '\"a\"^-3')"), "4");
  });
}

TEST_F(CStackTest, OrdinaryLpegPatternsKeepTheirResults) {
  everywhere([&] {
    EXPECT_EQ(run("return lpeg.match(lpeg.P'a'^-1000, string.rep('a', 2000))"), "1001");
    EXPECT_EQ(run("return re.match('aaab', '\"a\"^-500 \"b\"')"), "5");
    // Long sequences are compiled in a loop, whatever their length.
    EXPECT_EQ(run("return lpeg.match(lpeg.P(string.rep('ab', 100000)), string.rep('ab', 100000))"),
              "200001");
    EXPECT_EQ(run("return lpeg.match(lpeg.P'a'^200000, string.rep('a', 200000))"), "200001");
    EXPECT_EQ(run("local p = lpeg.P'x' for i = 1, 300 do p = lpeg.P'y' * p + 'z' end "
                  "return lpeg.match(p, string.rep('y', 300) .. 'x')"),
              "302");
    EXPECT_EQ(run("return re.match('(1+(2*3))', "
                  "\"S <- '(' S ('+' / '*') S ')' / [0-9]\")"),
              "10");
  });
}

TEST_F(CStackTest, LpegBacktrackLimitIsBounded) {
  EXPECT_EQ(run("return lpeg.setmaxstack(2^31)"), "?");
  EXPECT_NE(lastError("message").find("bad argument #1 to 'setmaxstack' (out of range)"),
            std::string::npos);
  EXPECT_EQ(run("lpeg.setmaxstack(2^24 + 1)"), "?");
  EXPECT_EQ(run("lpeg.setmaxstack(2000) return lpeg.match(lpeg.P{'S', S = 'a' * lpeg.V'S' + "
                "'b'}, string.rep('a', 1500) .. 'b')"),
            "1502");
  EXPECT_EQ(run("lpeg.setmaxstack(400)"), "");
}

// Each level recurses through string.gsub callbacks and then calls the
// next one through the host.
constexpr const char* kNestingLevels = R"(
  function level(n, k)
    if k > 0 then
      return (string.gsub('a', 'a', function() return level(n, k - 1) end))
    end
    if n == 0 then return 'bottom' end
    local result = vesko.Evaluate(how:format(n - 1, width))
    -- A nested call that failed answers nothing; its error is the record's.
    if result == '' then return vesko.Evaluate('Vesko_LastError') end
    return result
  end)";

TEST_F(CStackTest, NestedCallsShareOneBudget) {
  ASSERT_EQ(run(kNestingLevels), "");
  everywhere([&] {
    for (const char* how : {"Vesko_CallFunction(\"level\"; %d; %d)",
                            "Vesko_RunScript(\"return level(...)\"; %d; %d)"}) {
      ASSERT_EQ(run(std::string("how, width = '") + how + "', 150"), "");
      // Some level fails, the outermost one on a small stack.
      std::string deep = callFunction("level", {numberValue(24), numberValue(150)});
      if (deep == "?") deep = lastError();
      EXPECT_NE(deep.find("C stack overflow"), std::string::npos) << deep;
      // A few levels fit.
      ASSERT_EQ(run(std::string("how, width = '") + how + "', 5"), "");
      EXPECT_EQ(callFunction("level", {numberValue(4), numberValue(5)}), "bottom");
    }
  });
  EXPECT_EQ(run("return 1 + 1"), "2");
}

TEST_F(CStackTest, CallbacksIntoLuaStopBeforeTheStackEnds) {
  everywhere([&] {
    // gsub keeps a buffer of its own in every frame.
    expectFailure(run("local function f(n) return (string.gsub('a', 'a', function() "
                      "return f(n + 1) end)) end return f(0)"),
                  "C stack overflow");
    expectFailure(run("local function f() return lpeg.match(lpeg.Cs(lpeg.P'a' / f), 'a') end "
                      "return f()"),
                  "C stack overflow");
    // The interpreter's own limit on C calls, near the end of a small stack.
    expectFailure(run("local function f() table.sort({2, 1}, function(a, b) f() return a < b "
                      "end) end f()"),
                  "C stack overflow");
    expectFailure(run("local t = setmetatable({}, {__index = function(t, k) return t[k + 1] end}) "
                      "return t[1]"),
                  "C stack overflow");
    expectFailure(run("local function f() return tostring(setmetatable({}, {__tostring = f})) end "
                      "return f()"),
                  "C stack overflow");
    EXPECT_EQ(run("return 'still ' .. 'here'"), "still here");
  });
}

}  // namespace
}  // namespace vesko_test
