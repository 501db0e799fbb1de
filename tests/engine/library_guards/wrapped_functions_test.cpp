// Counts, positions, widths and repetitions out of range for the bundled
// libraries: an argument error instead of a write out of bounds or a loop
// without end, and today's behaviour for every value in range.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;

class ArgumentBoundsTest : public PluginTest {
 protected:
  // The error that `call` raises, without its position; "returned" when
  // it returns.
  std::string errorOf(const std::string& call) {
    return run(
        "local ok, e = pcall(function() return " + call +
        " end) if ok then return 'returned' end return (tostring(e):gsub('^[^:]*:%d+: ', ''))");
  }
};

TEST_F(ArgumentBoundsTest, TheHostCallsTohexWithAWidthOf2To31) {
  EXPECT_EQ(
      text("Vesko_CallFunction", {textValue("bit.tohex"), numberValue(1), numberValue(2147483648)}),
      "?");
  EXPECT_NE(lastError().find("bad argument #2 to '?' (out of range)"), std::string::npos)
      << lastError();
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("bit.tohex"), numberValue(255), numberValue(-4)}),
            "00FF");
}

// Each function with each boundary number: +-2^31, +-2^53, NaN, infinity.
TEST_F(ArgumentBoundsTest, BoundaryNumbersAreArgumentErrors) {
  const char* boundaries[] = {"2^31", "-2^31", "2^53", "-2^53", "0/0", "1/0", "-1/0"};
  struct Case {
    const char* call;  // N stands for the boundary number
    const char* error;
    bool takesMinusTwoTo31;  // -2^31 itself fits the C int the library reads
  };
  const Case cases[] = {
      {"bit.tohex(1, N)", "bad argument #2 to 'tohex' (out of range)", false},
      {"unpack({}, 1, N)", "bad argument #3 to 'unpack' (out of range)", true},
      {"table.insert({1, 2}, N, 'x')", "bad argument #2 to 'insert' (out of range)", false},
      {"table.concat({}, '', N)", "bad argument #3 to 'concat' (out of range)", true},
      {"string.rep('ab', N)", "bad argument #2 to 'rep' (out of range)", true},
      {"('ab'):rep(N)", "bad argument #1 to 'rep' (out of range)", true},
      {"string.char(65, N)", "bad argument #2 to 'char' (out of range)", true},
      {"debug.traceback('x', N)", "bad argument #2 to 'traceback' (out of range)", false},
      {"lpeg.P(N)", "bad argument #1 to 'P' (out of range)", false},
      {"lpeg.P'a' ^ N", "bad argument #2 to '?' (out of range)", false},
      {"lpeg.P'a' * N", "bad argument #2 to '?' (out of range)", false},
      {"N + lpeg.P'a'", "bad argument #1 to '?' (out of range)", false},
      {"socket.skip(N, 1, 2)", "bad argument #1 to 'skip' (out of range)", false},
  };
  for (const Case& c : cases) {
    for (const char* boundary : boundaries) {
      if (c.takesMinusTwoTo31 && std::string(boundary) == "-2^31") continue;
      std::string call = c.call;
      call.replace(call.find('N'), 1, std::string("(") + boundary + ")");
      EXPECT_EQ(errorOf(call), c.error) << call;
    }
  }
  // NaN and the infinities, where the library reads a 64-bit integer.
  EXPECT_EQ(errorOf("string.sub('abc', 1, 1/0)"), "bad argument #3 to 'sub' (out of range)");
  EXPECT_EQ(errorOf("string.find('abc', 'b', 0/0)"), "bad argument #3 to 'find' (out of range)");
  EXPECT_EQ(errorOf("lpeg.match(lpeg.P'a', 'a', -1/0)"),
            "bad argument #3 to 'match' (out of range)");
  EXPECT_EQ(errorOf("socket.sleep(0/0)"), "bad argument #1 to 'sleep' (out of range)");
}

// Ranges that wrap past the library's own checks, and counts whose
// repetition overflows the sizes LPeg computes.
TEST_F(ArgumentBoundsTest, RangesAndRepetitionsThatWrap) {
  EXPECT_EQ(errorOf("unpack({}, 0, 2^31 - 1)"), "too many results to unpack");
  EXPECT_EQ(errorOf("unpack({}, -2^31, 2^31 - 1)"), "too many results to unpack");
  EXPECT_EQ(errorOf("unpack({}, 1, 2^31 - 1)"), "too many results to unpack");
  EXPECT_EQ(errorOf("table.insert({1, 2, 3}, -2^31 + 1, 'x')"),
            "bad argument #2 to 'insert' (out of range)");
  EXPECT_EQ(errorOf("debug.traceback('x', -1)"), "bad argument #2 to 'traceback' (out of range)");
  EXPECT_EQ(errorOf("socket.skip(-20, 1, 2)"), "bad argument #1 to 'skip' (out of range)");
  EXPECT_EQ(errorOf("lpeg.P'a' ^ (2^31 - 1)"), "bad argument #2 to '?' (out of range)");
  EXPECT_EQ(errorOf("lpeg.P'a' ^ -2^30"), "bad argument #2 to '?' (out of range)");
  EXPECT_EQ(errorOf("lpeg.P(2^20) * lpeg.P(2^20) ^ 2000"), "bad argument #2 to '?' (out of range)");
  EXPECT_EQ(errorOf("lpeg.P(-2^31)"), "bad argument #1 to 'P' (out of range)");
  // re reaches the same operators with the counts written in the pattern.
  EXPECT_NE(errorOf("re.compile(\"'a'^-2147483648\")").find("(out of range)"), std::string::npos);
  EXPECT_NE(errorOf("re.compile(\"'a'^+2147483648\")").find("(out of range)"), std::string::npos);
  // The empty string repeated without end is empty at once.
  EXPECT_EQ(run("return #string.rep('', 2^31 - 1)"), "0");
}

TEST_F(ArgumentBoundsTest, ValuesInRangeBehaveAsBefore) {
  EXPECT_EQ(run("return table.concat({unpack({1, 2, 3, 4}, 2, 3)}, ',')"), "2,3");
  EXPECT_EQ(run("return select('#', unpack({}, 2^31 - 10, 2^31 - 1))"), "10");
  EXPECT_EQ(errorOf("unpack({}, 1, 9000)"), "too many results to unpack");
  EXPECT_EQ(run("local t = {1, 2, 3} table.insert(t, -5, 'x') return t[-5]"), "x");
  EXPECT_EQ(run("local t = {} table.insert(t, 2^31 - 1, 'x') return t[2^31 - 1]"), "x");
  EXPECT_EQ(run("return ('ab'):rep(3) .. string.sub('abcdef', -3, 2^53)"), "abababdef");
  EXPECT_EQ(run("return bit.tohex(-1, -2^31 + 1) .. bit.tohex(255, 2)"), "FFFFFFFFff");
  EXPECT_EQ(run("return select(-1, 'a', 'b') .. string.char(72, 105)"), "bHi");
  EXPECT_EQ(run("return (lpeg.P(3) * lpeg.P'x' ^ 2):match('abcxxx') .. re.match('aaa', \"'a'^2\")"),
            "73");
  EXPECT_EQ(run("return lpeg.match(lpeg.P'b', 'abc', -2)"), "3");
  EXPECT_EQ(run("return table.remove({1, 2, 3}, 2) + #string.format('%5.2f', 1)"), "7");
  // Errors keep the name the script used and the script's position.
  EXPECT_EQ(run("local ok, e = pcall(function() return string.rep() end) return e"),
            "[string \"local ok, e = pcall(function() return strin...\"]:1: bad argument #1 to "
            "'rep' (string expected, got no value)");
  EXPECT_EQ(errorOf("('x'):rep()"), "bad argument #1 to 'rep' (number expected, got no value)");
  EXPECT_EQ(errorOf("select(-5, 1)"), "bad argument #1 to 'select' (index out of range)");
}

// The wrapper keeps the library's function where no script reaches it: a
// copy taken before a script replaces the table entry still checks, and
// nothing leads to the unchecked function.
TEST_F(ArgumentBoundsTest, ScriptsCannotReachTheUncheckedFunctions) {
  EXPECT_EQ(run("local tohex = bit.tohex bit.tohex = nil "
                "local ok, e = pcall(function() return tohex(1, 2^31) end) bit.tohex = tohex "
                "return e:match('%(out of range%)')"),
            "(out of range)");
  EXPECT_EQ(run("return select('#', debug.getupvalue(bit.tohex, 1)) + "
                "select('#', debug.getupvalue(getmetatable(lpeg.P(1)).__pow, 1))"),
            "0");
  EXPECT_EQ(run("return getmetatable('').__index.rep == string.rep and "
                "getmetatable(lpeg.P(1)).__index == lpeg and "
                "debug.getregistry()['lpeg-pattern'] == getmetatable(lpeg.P(1))"),
            "1");
  EXPECT_EQ(errorOf("debug.getregistry()['lpeg-pattern'].__pow(lpeg.P'a', 2^31)"),
            "bad argument #2 to '__pow' (out of range)");
  // Loading a library's file again opens it with the same bounds, and
  // the operators it registers again stay bounded too.
  EXPECT_EQ(errorOf("(function() package.loaded.bit = nil return require('bit').tohex(1, 2^31) "
                    "end)()"),
            "bad argument #2 to 'tohex' (out of range)");
  EXPECT_EQ(errorOf("package.loaders[3]('lpeg')().P(2^31)"),
            "bad argument #1 to 'P' (out of range)");
  EXPECT_EQ(errorOf("lpeg.P'a' ^ 2^31"), "bad argument #2 to '?' (out of range)");
  EXPECT_EQ(errorOf("package.loaders[3]('socket.core')().skip(-20, 1)"),
            "bad argument #1 to 'skip' (out of range)");
  EXPECT_EQ(run("return require('bit').tohex(255, 4)"), "00ff");
}

// socket.select asks each object once for its descriptor and checks it;
// an object that answers differently later cannot make it write past its
// set, and the results name the script's own objects.
TEST_F(ArgumentBoundsTest, SelectAsksForEachDescriptorOnce) {
  EXPECT_EQ(errorOf("socket.select({{getfd = function() return 2^31 end}}, nil, 0)"),
            "bad argument #1 to 'select' (descriptor too large for set size)");
  EXPECT_EQ(errorOf("socket.select(nil, {{getfd = function() return 1/0 end}}, 0)"),
            "bad argument #2 to 'select' (descriptor too large for set size)");
  EXPECT_EQ(
      run("local calls = 0 "
          "local sly = {getfd = function() calls = calls + 1 "
          "  return calls == 1 and 0 or 2^31 end, dirty = function() return true end} "
          "local r = socket.select({sly}, nil, 0) return tostring(r[1] == sly and r[sly] == 1) "
          ".. calls"),
      "true1");
  EXPECT_EQ(
      run("local server = socket.bind('127.0.0.1', 0) "
          "local _, port = server:getsockname() local client = socket.connect('127.0.0.1', port) "
          "local r, w = socket.select({server, {}}, {client}, 1) "
          "return tostring(r[1] == server and r[server] == 1 and w[1] == client and "
          "w[client] == 1 and r[2] == nil)"),
      "true");
  EXPECT_EQ(run("local r, w, e = socket.select({}, nil, 0) return e .. type(r) .. type(w)"),
            "timeouttabletable");
}

}  // namespace
}  // namespace vesko_test
