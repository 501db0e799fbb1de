// vesko.totable, vesko.tolist, vesko.get and vesko.shellexec, written in
// Lua by the start-up script.
#include "tests/plugin/plugin_fixture.h"

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

}  // namespace
}  // namespace vesko_test
