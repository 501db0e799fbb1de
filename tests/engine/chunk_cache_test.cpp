// Vesko_RunScript's compiled chunks, kept by script text: a chunk from the
// cache must behave exactly as one compiled afresh.
#include <filesystem>
#include <fstream>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::textValue;

// A script that answers "true" when it runs as the very function that ran
// under its key before, i.e. when its chunk came from the cache.  The
// padding makes texts of any size.
std::string identityScript(const std::string& key, std::size_t padding = 0) {
  return "seen = seen or {} local f = debug.getinfo(1, 'f').func local same = seen['" + key +
         "'] == f seen['" + key + "'] = f return tostring(same) --" + std::string(padding, '.');
}

class ChunkCacheTest : public PluginTest {
 protected:
  // Runs `script` twice, so that its chunk is kept; answers the second
  // run's result.
  std::string runTwice(const std::string& script) {
    run(script);
    return run(script);
  }
  void runOthersTwice(int first, int count) {
    for (int i = first; i < first + count; ++i) {
      ASSERT_EQ(runTwice("return " + std::to_string(i)), std::to_string(i));
    }
  }
};

TEST_F(ChunkCacheTest, TheSameTextReusesItsChunk) {
  const std::string script = identityScript("a");
  EXPECT_EQ(run(script), "false");
  EXPECT_EQ(run(script), "false");  // kept from its second run on
  EXPECT_EQ(run(script), "true");
  EXPECT_EQ(run(script), "true");
  // A text run once is not kept, nor one whose first run was forgotten.
  const std::string once = identityScript("once");
  EXPECT_EQ(run(once), "false");
  runOthersTwice(0, 10);
  EXPECT_EQ(run(identityScript("other")), "false");
  EXPECT_EQ(run(once), "false");
  // Arguments and results are those of each run.
  EXPECT_EQ(run("return (...) * 2", {vesko_host::numberValue(4)}), "8");
  EXPECT_EQ(run("return (...) * 2", {vesko_host::numberValue(5)}), "10");
}

TEST_F(ChunkCacheTest, TheLeastRecentlyUsedGoFirstPastFiveHundred) {
  const std::string kept = identityScript("kept");
  const std::string dropped = identityScript("dropped");
  EXPECT_EQ(runTwice(kept), "false");
  EXPECT_EQ(runTwice(dropped), "false");
  runOthersTwice(0, 300);
  EXPECT_EQ(run(kept), "true");
  runOthersTwice(300, 250);
  EXPECT_EQ(run(kept), "true");
  EXPECT_EQ(run(dropped), "false");
}

TEST_F(ChunkCacheTest, TheBytesHeldAreBounded) {
  // Each is charged with its text twice (the key, and the chunk's name in
  // the interpreter), about 600 KiB: eight of them exceed the cache.
  const std::size_t padding = 300 * 1024;
  EXPECT_EQ(runTwice(identityScript("big0", padding)), "false");
  EXPECT_EQ(run(identityScript("big0", padding)), "true");
  for (int i = 1; i <= 7; ++i) runTwice(identityScript("big" + std::to_string(i), padding));
  EXPECT_EQ(run(identityScript("big0", padding)), "false");
  // A text too large for a fair share of the cache is never kept.
  const std::string huge = identityScript("huge", 2 * 1024 * 1024);
  EXPECT_EQ(runTwice(huge), "false");
  EXPECT_EQ(run(huge), "false");
}

TEST_F(ChunkCacheTest, AnEnvironmentSetByOneRunDoesNotReachTheNext) {
  const std::string script =
      "if marker then return 'leaked' end setfenv(1, {marker = true}) return 'fresh'";
  EXPECT_EQ(run(script), "fresh");
  EXPECT_EQ(run(script), "fresh");
  const std::string viaFunction = "x = (x or 0) + 1 setfenv(1, {}) return 1";
  EXPECT_EQ(run(viaFunction), "1");
  EXPECT_EQ(run(viaFunction), "1");
  EXPECT_EQ(run("return x"), "2");
}

TEST_F(ChunkCacheTest, MessagesNameTheChunkByItsTextEveryTime) {
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(run("local t = nil\nreturn t.x"), "?");
    EXPECT_EQ(lastError("message").rfind("[string \"local t = nil...\"]:2: attempt to index", 0),
              0u)
        << lastError();
    EXPECT_EQ(run("return +"), "?");
    EXPECT_EQ(lastError("number"), "3010");
    EXPECT_EQ(lastError("message").rfind("[string \"return +\"]:1:", 0), 0u) << lastError();
  }
  // A text that failed to load and then loads (a global it needs is no
  // concern of loading) is not remembered as failing.
  EXPECT_EQ(run("return y"), "");
}

class NestedChunkCacheTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    ASSERT_EQ(run("function nested(script) "
                  "return vesko.Evaluate('Vesko_RunScript(\"' .. script .. '\")') end"),
              "");
  }
};

TEST_F(NestedChunkCacheTest, TheSameTextNestedInsideItsOwnRunGetsItsOwnChunk) {
  // The outer run sets its own environment, then runs its very text again
  // nested; resetting the nested run's environment must leave the outer's.
  const std::string script =
      "if depth then return 'inner' end depth = 1 "
      "setfenv(1, setmetatable({tag = 'outer'}, {__index = _G})) "
      "local inner = nested(selfText) depth = nil return tag .. ',' .. inner";
  ASSERT_EQ(run("selfText = [[" + script + "]]"), "");
  EXPECT_EQ(run(script), "outer,inner");
  EXPECT_EQ(run("depth = nil"), "");
  EXPECT_EQ(run(script), "outer,inner");
}

TEST_F(NestedChunkCacheTest, EvictionDuringARunLeavesTheRunningChunkIntact) {
  // Kept from its second run on; 600 texts run twice each push it out.
  const std::string script =
      "local before = 'kept' for i = 1, 600 do nested('return ' .. i) nested('return ' .. i) end "
      "collectgarbage() collectgarbage() return before .. (function() return '!' end)()";
  EXPECT_EQ(run(script), "kept!");
  EXPECT_EQ(run(script), "kept!");
  EXPECT_EQ(run(script), "kept!");
}

TEST_F(ChunkCacheTest, ScriptsCannotReachTheKeptChunks) {
  const std::string target = "return 'genuine'";
  run(target);
  EXPECT_EQ(run(target), "genuine");
  // No table a script can reach through the registry holds the chunk.
  const std::string hijack =
      "local n = 0 for k, v in pairs(debug.getregistry()) do if type(v) == 'table' then "
      "for i, f in pairs(v) do if type(f) == 'function' and "
      "debug.getinfo(f, 'S').source == \"" +
      target +
      "\" then v[i] = function() return 'hijacked' end n = n + 1 end end end end "
      "return n";
  EXPECT_EQ(run(hijack), "0");
  EXPECT_EQ(run(target), "genuine");
  // Nor does any table the globals reach.
  const std::string search =
      "local seen, n = {}, 0 local function walk(t) if seen[t] then return end seen[t] = true "
      "for k, v in pairs(t) do if type(v) == 'table' then walk(v) elseif type(v) == 'function' "
      "and debug.getinfo(v, 'S').source == \"" +
      target + "\" then n = n + 1 end end end walk(_G) walk(debug.getregistry()) return n";
  EXPECT_EQ(run(search), "0");
}

TEST_F(ChunkCacheTest, RunFileAlwaysReadsTheFileAgain) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("vesko-cache-" + std::to_string(getpid()) + ".lua");
  std::ofstream(path) << "return 'first'";
  EXPECT_EQ(text("Vesko_RunFile", {textValue(path.string())}), "first");
  std::ofstream(path) << "return 'second'";
  EXPECT_EQ(text("Vesko_RunFile", {textValue(path.string())}), "second");
  std::filesystem::remove(path);
}

// A ceiling low enough that loading a large text runs out of memory.
using ChunkCacheMemoryTest = PluginWithCeilingTest<16000000>;

TEST_F(ChunkCacheMemoryTest, RunningOutOfMemoryWhileLoadingStays3012) {
  const std::string script = "return #'" + std::string(4000000, 'x') + "'";
  ASSERT_EQ(run("hog = {} for i = 1, 8 do hog[i] = string.rep(string.char(64 + i), 1000000) end "
                "return 1"),
            "1");
  EXPECT_EQ(run(script), "?");
  EXPECT_EQ(lastError("number"), "3012");
  EXPECT_EQ(run("hog = nil collectgarbage() return 1"), "1");
  EXPECT_EQ(run(script), "4000000");
  EXPECT_EQ(run(script), "4000000");
}

}  // namespace
}  // namespace vesko_test
