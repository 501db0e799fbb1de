// Modules a script loads with require: Debian's Lua C modules, which find
// the interpreter in the process, and Lua files on package.path.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::textValue;
namespace fs = std::filesystem;
using LuaModulesTest = PluginTest;

TEST_F(LuaModulesTest, CjsonLoadsAndWorks) {
  EXPECT_EQ(run("cjson = require 'cjson' return cjson.encode({1, 'two', {x = true}})"),
            "[1,\"two\",{\"x\":true}]");
  EXPECT_EQ(run("local t = cjson.decode('{\"a\": [10, 20.5, null]}') "
                "return t.a[2] .. ' ' .. tostring(t.a[3] == cjson.null)"),
            "20.5 true");
  EXPECT_EQ(run("return cjson.decode('\"h\\\\u00e9\"')"), "h\xC3\xA9");
}

// The module raises its errors through the C++ interpreter: they unwind
// its C frames as exceptions, caught by pcall, a coroutine or the run itself.
TEST_F(LuaModulesTest, ErrorsRaisedInsideTheModuleUnwindSafely) {
  ASSERT_EQ(run("cjson = require 'cjson' return 1"), "1");
  EXPECT_EQ(
      run("local ok, e = pcall(cjson.decode, '{\"a\": tru}') return tostring(ok) .. ': ' .. e"),
      "false: Expected value but found invalid token at character 7");
  EXPECT_EQ(run("local ok, e = pcall(cjson.decode, string.rep('[', 5000)) return e"),
            "Found too many nested data structures (1001) at character 1001");
  EXPECT_EQ(run("local ok, e = pcall(cjson.encode, {f = print}) return e"),
            "Cannot serialise function: type not supported");

  EXPECT_EQ(run("return cjson.decode('[1,')"), "?");
  EXPECT_EQ(lastError(),
            "3020: [string \"return cjson.decode('[1,')\"]:1: Expected value but found T_END at "
            "character 4");
  EXPECT_EQ(run("local t = {} t[1] = t return cjson.encode(t)"), "?");
  EXPECT_EQ(lastError("number"), "3020");

  ASSERT_EQ(run("function decodeLater(s) coroutine.yield(1) return cjson.decode(s) end return 1"),
            "1");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("decodeLater"), textValue("{")}), "1");
  EXPECT_EQ(text("Vesko_ResumeFunction"), "?");
  EXPECT_EQ(lastError("number"), "3020");

  // Many failures in a row leave the interpreter whole (and, under the
  // sanitizers, leak nothing).  Valgrind runs this slowly: the limit is
  // raised so that only a fault fails it.
  ASSERT_EQ(text("Vesko_Timeout", {vesko_host::numberValue(60)}), "60");
  EXPECT_EQ(run("local n = 0 for i = 1, 2000 do "
                "  if not pcall(cjson.decode, '[' .. string.rep('1,', i % 64) .. 'x]') then n = n "
                "+ 1 end "
                "end return n .. ' ' .. cjson.encode({n})"),
            "2000 [2000]");
}

TEST_F(LuaModulesTest, CjsonNeverSizesABufferBeyondTheCeiling) {
  // lua-cjson counts its buffers in an int and ends the process when
  // malloc fails: what it would write must fit the ceiling (and 256 MiB).
  ASSERT_EQ(run("vesko.MemoryLimit(3e7) return 1"), "1");
  const char* tooLarge[] = {
      "cjson.encode(string.rep('\\1', 6e6))",
      "local s = string.rep('x', 3e6) cjson.encode({s, s, s, {s, s}})",
      "local s = string.rep('x', 3e6) cjson.encode({[s] = s, k = s})",
      "local c = cjson.new() c.encode_sparse_array(false, 0) c.encode({[1e8] = 1})",
      "local c = require('cjson.safe') c.encode_sparse_array(false, 0) c.encode({[1e8] = 1})",
      "local t = {} for i = 1, 2e5 do t[i] = 'abcdefghijklmnopqrstuvwxyz' end cjson.encode(t)",
  };
  for (const char* script : tooLarge) {
    EXPECT_EQ(run(std::string("cjson = require('cjson') ") + script), "?") << script;
    const std::string message = lastError("message");
    EXPECT_NE(message.find("(too large to encode)"), std::string::npos) << script << message;
  }
  // Below it, and whatever the nesting, it works as before.
  EXPECT_EQ(run("return #cjson.encode({string.rep('x', 1e6), {a = {1, 2, 3}}})"), "1000018");
  EXPECT_EQ(run("local t = {} for i = 1, 2e4 do t[i] = 'abc' end return #cjson.encode(t)"),
            "120001");
  EXPECT_EQ(run("return cjson.encode({[3] = true})"), "[null,null,true]");
  // An object's numeric keys leave no holes to fill.
  EXPECT_EQ(run("return #cjson.encode({[1e9] = 1, k = 2})"), "22");
  EXPECT_EQ(run("local t = {} for i = 1, 1200 do t = {t} end "
                "return select(2, pcall(cjson.encode, t)):match('nesting') ~= nil"),
            "1");
  EXPECT_EQ(run("return require('cjson.safe').decode('[1,2]')[2]"), "2");
  EXPECT_EQ(run("return cjson.new().decode(cjson.new().encode({k = 'v'})).k"), "v");
}

TEST_F(LuaModulesTest, ModulesLoadAgainAfterTheInterpreterIsRebuilt) {
  ASSERT_EQ(run("return require('cjson').encode({})"), "{}");
  vesko_host::shutdownPlugin(plugin_);
  ASSERT_EQ(vesko_host::enablePlugin(plugin_), 53);
  EXPECT_EQ(run("return require('cjson').encode({'again'})"), "[\"again\"]");
}

TEST_F(LuaModulesTest, LuaFilesOnThePackagePath) {
  const fs::path folder = fs::temp_directory_path() / ("vesko-modules-" + std::to_string(getpid()));
  fs::create_directories(folder / "shop");
  std::ofstream(folder / "greeting.lua") << "local M = {}\n"
                                            "function M.hello(name) return 'hello ' .. name end\n"
                                            "return M\n";
  std::ofstream(folder / "shop" / "prices.lua")
      << "local json = require 'cjson'\n"
         "return {total = function(s) local n = 0 "
         "for _, p in ipairs(json.decode(s)) do n = n + p end return n end}\n";
  std::ofstream(folder / "broken.lua") << "return {\n";

  const std::string setPath = "package.path = '" + folder.string() + "/?.lua;' .. package.path ";
  EXPECT_EQ(run(setPath + "return require('greeting').hello('Ana')"), "hello Ana");
  EXPECT_EQ(run("return require('shop.prices').total('[1.5, 2, 3]')"), "6.5");
  EXPECT_EQ(run("return require('broken')"), "?");
  EXPECT_EQ(lastError("number"), "3020");
  EXPECT_EQ(run("return require('no.such.module')"), "?");
  EXPECT_NE(lastError("message").find("module 'no.such.module' not found"), std::string::npos);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace vesko_test
