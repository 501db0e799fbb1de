// vesko.totable, vesko.tolist, vesko.get and vesko.shellexec, written in
// Lua by the start-up script.
#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using StartupFunctionsTest = PluginTest;

// Lists a table's pairs sorted by key, "k=v;k=v".
constexpr const char* kShow = R"(
  function show(t)
    local keys = {}
    for k in pairs(t) do keys[#keys + 1] = k end
    table.sort(keys, function(a, b) return tostring(a) < tostring(b) end)
    for i, k in ipairs(keys) do keys[i] = tostring(k) .. '=' .. tostring(t[k]) end
    return table.concat(keys, ';')
  end)";

TEST_F(StartupFunctionsTest, ToTable) {
  ASSERT_EQ(run(kShow), "");
  EXPECT_EQ(run("return show(vesko.totable(nil)) .. '|' .. show(vesko.totable(''))"), "|");
  EXPECT_EQ(run("return show(vesko.totable('a\\r\\rb\\nc'))"), "1=a;2=b;3=c");
  EXPECT_EQ(run("return show(vesko.totable('a=1\\rb=2', '='))"), "a=1;b=2");
  EXPECT_EQ(run("local t = vesko.totable('a=1', '=') return type(t.a)"), "string");
  EXPECT_EQ(run("return show(vesko.totable('a=b=c', '='))"), "a=b=c");
  EXPECT_EQ(run("return show(vesko.totable('x|k=v\\rk2=\\rnone', '='))"), "k=v");
  EXPECT_EQ(run("return show(vesko.totable('abc', '.'))"), "a=c");
  EXPECT_EQ(run("return show(vesko.totable('k=1\\rk=2', '='))"), "k=2");
}

TEST_F(StartupFunctionsTest, ToList) {
  EXPECT_EQ(run("return vesko.tolist({'x', 'y', 'z'})"), "x\ry\rz");
  EXPECT_EQ(run("return vesko.tolist({k = 'v'}, ':')"), "k:v");
  EXPECT_EQ(run("return vesko.tolist({}) .. vesko.tolist({}, ':')"), "");
  EXPECT_EQ(run("return vesko.tolist({1, 2.5})"), "1\r2.5");
  EXPECT_EQ(run("return vesko.tolist({{}})"), "?");
}

TEST_F(StartupFunctionsTest, GetOnThisPlatform) {
  vesko_host::overrideFilePath("file:/home/ann/db/Sales.sqlite");
  EXPECT_EQ(run("return vesko.get('DirOfFilePath')"), "/home/ann/db/");
  EXPECT_EQ(
      run("return vesko.get('TemporaryPath'):sub(1, 1) .. vesko.get('TemporaryPath'):sub(-1)"),
      "//");
  EXPECT_EQ(run("return vesko.get('DocumentsPath'):match('/Documents/$') ~= nil"), "1");
  EXPECT_EQ(run("return tostring(vesko.get('Elsewhere')) .. tostring(vesko.get(nil))"), "nilnil");
  vesko_host::overrideFilePath("");
  EXPECT_EQ(run("return tostring(vesko.get('DirOfFilePath'))"), "nil");
  vesko_host::overrideFilePath(std::nullopt);
}

TEST_F(StartupFunctionsTest, GetOnTheOtherPlatforms) {
  // The host's answers as Windows and macOS give them, through a stand-in
  // for vesko.Evaluate.
  ASSERT_EQ(run(R"(
    answers = {}
    vesko.Evaluate = function(expression) return answers[expression] end)"),
            "");
  EXPECT_EQ(run(R"(
    vesko.platform = 'Win'
    answers['Get(FilePath)'] = 'file:/C:/Data/Sales.fmp12'
    answers['Get(TemporaryPath)'] = '/C:/Temp/'
    answers['Get(DesktopPath)'] = ''
    return vesko.get('DirOfFilePath') .. '|' .. vesko.get('TemporaryPath') .. '|' ..
           vesko.get('DesktopPath'))"),
            "C:/Data/|C:/Temp/|");
  EXPECT_EQ(run(R"(
    vesko.platform = 'Mac'
    answers['Get(FilePath)'] = 'file:/Macintosh HD/Data/Sales.fmp12'
    answers['Get(DocumentsPath)'] = '/Macintosh HD/Users/ann/Documents/'
    return vesko.get('DirOfFilePath') .. '|' .. vesko.get('DocumentsPath'))"),
            "/Volumes/Macintosh HD/Data/|/Volumes/Macintosh HD/Users/ann/Documents/");
}

TEST_F(StartupFunctionsTest, ShellExec) {
  EXPECT_EQ(run("return vesko.shellexec('true')"), "");
  EXPECT_EQ(run("return vesko.shellexec('printf \"h\\\\303\\\\251\"')"), "h\xC3\xA9");
  EXPECT_EQ(run("return vesko.shellexec('echo one; echo two >&2; exit 3')"), "one\n");
}

// A misuse names the line of the script that made it, called plainly, as
// a tail call or from a function of its own; never a line of the start-up
// scripts.  Errors that are not theirs pass through as they are.
TEST_F(StartupFunctionsTest, ErrorsNameTheCallersLine) {
  const std::string where = "[string \"-- mine...\"]:2: ";
  const std::pair<const char*, const char*> misuses[] = {
      {"local x = ('abc'):utf8sub()", "bad argument #1 to 'sub' (argument expected, got nil)"},
      {"return ('abc'):utf8sub()", "bad argument #1 to 'sub' (argument expected, got nil)"},
      {"return (''):utf8sub(2)", "invalid index (arg #2)"},
      {"local x = ('abc'):utf8sub(4, 5)", "invalid index (arg #2)"},
      {"return string.utf8sub({}, 1)",
       "bad argument #1 to 'seekutf8' (string expected, got table)"},
      {"for c in string.utf8characters('a\\255') do end", "invalid utf-8 string"},
      {"local it = string.utf8characters('a') it() it() return it()",
       "bad argument #2 to 'nextutf8' (number expected, got nil)"},
      {"return vesko.totable('a', {})", "attempt to concatenate local 'sep' (a table value)"},
      {"return vesko.totable({}, '=')", "bad argument #1 to 'gmatch' (string expected, got table)"},
      {"local x = vesko.tolist({{}})", "invalid value (table) at index 1 in table for 'concat'"},
      {"return vesko.tolist({k = {}}, '=')",
       "attempt to concatenate local 'value' (a table value)"},
      {"return vesko.shellexec({})", "bad argument #1 to 'popen' (string expected, got table)"},
      // In a function of the script's own, its line.
      {"local function f(s) return s:utf8sub(nil) end\nf('a')",
       "bad argument #1 to 'sub' (argument expected, got nil)"},
  };
  for (const auto& [misuse, message] : misuses) {
    EXPECT_EQ(run("-- mine\n" + std::string(misuse)), "?") << misuse;
    EXPECT_EQ(lastError("number"), "3020") << misuse;
    EXPECT_EQ(lastError("message"), where + message) << misuse;
  }
  // In a function of the script's own, its line.
  EXPECT_EQ(lastError("message"), where + "bad argument #1 to 'sub' (argument expected, got nil)");

  // The script's own error inside vesko.get keeps its own position.
  EXPECT_EQ(run("-- mine\nvesko.Evaluate = function() error('host down') end\n"
                "return vesko.get('TemporaryPath')"),
            "?");
  EXPECT_EQ(lastError("message"), where + "host down");
  // A caught error reads the same; the functions still work after one.
  EXPECT_EQ(run("-- mine\nlocal ok, message = pcall(function() return ('x'):utf8sub() end) "
                "return message .. '|' .. ('h\xC3\xA9llo'):utf8sub(2, 3)"),
            where + "bad argument #1 to 'sub' (argument expected, got nil)|\xC3\xA9l");
}

}  // namespace
}  // namespace vesko_test
