// Vesko_RunFile's compiled files: a file's chunk is reused only while the
// file is the very one it was compiled from, and every rule of the chunk
// cache holds for files as it does for texts.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::textValue;
namespace fs = std::filesystem;

// A script that answers "<result>,true" when it runs as the very function
// that ran under its key before, i.e. when its chunk came from the cache.
std::string identityFile(const std::string& key, const std::string& result = "r") {
  return "seen = seen or {} local f = debug.getinfo(1, 'f').func local same = seen['" + key +
         "'] == f seen['" + key + "'] = f return '" + result + ",' .. tostring(same)";
}

class FileCacheTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    folder_ = fs::temp_directory_path() / ("vesko-file-cache-" + std::to_string(getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    fs::remove_all(folder_);
    PluginTest::TearDown();
  }

  // Writes `text` to `name` in the test folder, modified `secondsAgo`
  // seconds (and `nanoseconds`) ago: a file changed just now is not kept.
  std::string write(const std::string& name, const std::string& text, int secondsAgo = 60,
                    long nanoseconds = 0) {
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << text;
    setModified(path.string(), secondsAgo, nanoseconds);
    return path.string();
  }
  void setModified(const std::string& path, int secondsAgo, long nanoseconds) {
    timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - secondsAgo, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
  // One figure of vesko.Stats(), by its Lua path ("files.hits").
  std::string figure(const std::string& path) { return run("return vesko.Stats()." + path); }

  fs::path folder_;
};

TEST_F(FileCacheTest, AnUnchangedFileIsCompiledOnce) {
  const std::string path = write("same.lua", identityFile("same"));
  EXPECT_EQ(runFile(path), "r,false");  // kept from its first run
  EXPECT_EQ(runFile(path), "r,true");
  EXPECT_EQ(runFile(path), "r,true");
  EXPECT_EQ(figure("files.cached"), "1");
  EXPECT_EQ(figure("files.hits"), "2");
  EXPECT_EQ(figure("files.misses"), "1");
  // A file is no text: the same path run as a script is another chunk.
  EXPECT_EQ(figure("texts.hits"), "0");

  // A file modified within the last seconds may change again unseen within
  // its file system's clock tick: it is compiled every time until it settles.
  const std::string fresh = write("fresh.lua", identityFile("fresh"), 0);
  EXPECT_EQ(runFile(fresh), "r,false");
  EXPECT_EQ(runFile(fresh), "r,false");
  setModified(fresh, 3, 0);
  EXPECT_EQ(runFile(fresh), "r,false");
  EXPECT_EQ(runFile(fresh), "r,true");
}

TEST_F(FileCacheTest, EveryChangeIsSeenAtTheNextCall) {
  const std::string path = write("changing.lua", identityFile("c", "one"));
  EXPECT_EQ(runFile(path), "one,false");
  EXPECT_EQ(runFile(path), "one,true");

  // An edit that changes the size.
  write("changing.lua", identityFile("c", "three"));
  EXPECT_EQ(runFile(path), "three,false");
  EXPECT_EQ(runFile(path), "three,true");

  // The same size, and a time that differs by a nanosecond only.
  write("changing.lua", identityFile("c", "seven"), 60, 1);
  EXPECT_EQ(runFile(path), "seven,false");
  write("changing.lua", identityFile("c", "eight"), 60, 2);
  EXPECT_EQ(runFile(path), "eight,false");
  EXPECT_EQ(runFile(path), "eight,true");

  // The same contents touched: compiled again, as the file might differ.
  setModified(path, 30, 0);
  EXPECT_EQ(runFile(path), "eight,false");

  // Replaced by a rename with another file of the same size and time: only
  // the inode tells them apart.
  const std::string other = write("other.lua", identityFile("c", "nine!"), 30, 0);
  fs::rename(other, path);
  EXPECT_EQ(runFile(path), "nine!,false");
  EXPECT_EQ(runFile(path), "nine!,true");

  // Removed, then back.
  fs::remove(path);
  EXPECT_EQ(runFile(path), "?");
  EXPECT_EQ(lastError(), "3002: File not found or is not readable.");
  write("changing.lua", identityFile("c", "back"));
  EXPECT_EQ(runFile(path), "back,false");
  EXPECT_EQ(runFile(path), "back,true");

  // Made anew with the same size and modification time (as a copy that
  // keeps times does), which may well reuse the inode number: its status
  // changed in a later clock tick.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  fs::remove(path);
  write("changing.lua", identityFile("c", "anew"));
  EXPECT_EQ(runFile(path), "anew,false");
  EXPECT_EQ(runFile(path), "anew,true");

  // Turned into a folder.
  fs::remove(path);
  fs::create_directory(path);
  EXPECT_EQ(runFile(path), "?");
  EXPECT_EQ(lastError(), "3002: File not found or is not readable.");
  fs::remove(path);

  // Turned into a named pipe with no writer: refused without blocking.
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  auto pending = std::async(std::launch::async, [&] { return runFile(path); });
  if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    close(open(path.c_str(), O_WRONLY | O_NONBLOCK));
    FAIL() << "Vesko_RunFile blocked on a named pipe";
  }
  EXPECT_EQ(pending.get(), "?");
  EXPECT_EQ(lastError(), "3002: File not found or is not readable.");
  fs::remove(path);

  // Made unreadable: the open fails, whatever is kept.
  // Its permissions changed in a later clock tick: opened again, and
  // refused once unreadable (root reads it all the same).
  write("changing.lua", identityFile("c", "last"));
  EXPECT_EQ(runFile(path), "last,false");
  EXPECT_EQ(runFile(path), "last,true");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  fs::permissions(path, fs::perms::owner_read);
  EXPECT_EQ(runFile(path), "last,false");
  EXPECT_EQ(runFile(path), "last,true");
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  fs::permissions(path, fs::perms::none);
  EXPECT_EQ(runFile(path), geteuid() == 0 ? "last,false" : "?");
  if (geteuid() != 0) {
    EXPECT_EQ(lastError(), "3002: File not found or is not readable.");
  }
}

TEST_F(FileCacheTest, TheCacheKeepsNoFileTheCallCouldNotOpen) {
  // A path that changes kind between the check and the open, over and
  // over, while kept chunks and failures alternate.
  const std::string path = write("flip.lua", identityFile("f"));
  EXPECT_EQ(runFile(path), "r,false");
  for (int i = 0; i < 5; ++i) {
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_EQ(runFile(path), "?");
    EXPECT_EQ(lastError(), "3002: File not found or is not readable.");
    fs::remove(path);
    write("flip.lua", identityFile("f"), 60, i + 1);
    EXPECT_EQ(runFile(path), "r,false");
    EXPECT_EQ(runFile(path), "r,true");
  }
  EXPECT_EQ(figure("files.cached"), "1");
  EXPECT_EQ(figure("files.misses"), "6");  // a folder is refused before the cache
  EXPECT_EQ(figure("files.hits"), "5");
}

TEST_F(FileCacheTest, AKeptFileBehavesAsOneLoadedAfresh) {
  // Messages name the file and line every time.
  const std::string failing = write("failing.lua", "\n\nerror('late')");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(runFile(failing), "?");
    EXPECT_EQ(lastError(), "3020: " + failing + ":3: late");
  }
  EXPECT_EQ(figure("files.hits"), "2");

  // A file that does not load is never kept.
  const std::string broken = write("broken.lua", "return +");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(runFile(broken), "?");
    EXPECT_EQ(lastError("number"), "3010");
    EXPECT_EQ(lastError("message").rfind(broken + ":1:", 0), 0u) << lastError();
  }
  EXPECT_EQ(figure("files.cached"), "1");

  // A leading "#" line keeps its line numbers.
  const std::string hashed = write("hashed.lua", "#!/usr/bin/lua\n\nerror('third line')");
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(runFile(hashed), "?");
    EXPECT_EQ(lastError(), "3020: " + hashed + ":3: third line");
  }

  // Precompiled chunks.
  const std::string compiled = (folder_ / "compiled.luac").string();
  EXPECT_EQ(run("local f = io.open(..., 'wb') "
                "f:write(string.dump(function(n) return (n or 20) + 1 end)) f:close()",
                {textValue(compiled)}),
            "");
  setModified(compiled, 60, 0);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(text("Vesko_RunFile", {textValue(compiled), vesko_host::numberValue(41)}), "42");
  }

  // The environment a run sets is not the next run's.
  const std::string fenced = write("fenced.lua",
                                   "if marker then return 'leaked' end setfenv(1, {marker = true}) "
                                   "return 'fresh'");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(runFile(fenced), "fresh");
  EXPECT_EQ(figure("files.hits"), "6");
}

TEST_F(FileCacheTest, TheSameFileNestedInsideItsOwnRunGetsItsOwnChunk) {
  const std::string path = write("nested.lua", "");
  write("nested.lua",
        "if depth then return 'inner' end depth = 1 "
        "setfenv(1, setmetatable({tag = 'outer'}, {__index = _G})) "
        "local inner = vesko.Evaluate('Vesko_RunFile(\"" +
            path +
            "\")') "
            "_G.depth = nil return tag .. ',' .. inner");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(runFile(path), "outer,inner");
}

TEST_F(FileCacheTest, FilesAndTextsShareTheBounds) {
  const std::string path = write("bounded.lua", identityFile("b"));
  EXPECT_EQ(runFile(path), "r,false");
  // 500 texts kept after it push it out, least recently used first.
  for (int i = 0; i < 500; ++i) {
    run("return " + std::to_string(i));
    run("return " + std::to_string(i));
  }
  EXPECT_EQ(figure("files.cached"), "0");
  EXPECT_EQ(figure("files.evictions"), "1");
  EXPECT_EQ(runFile(path), "r,false");
  EXPECT_EQ(runFile(path), "r,true");

  // Bytes too: a file is charged with what it compiled to.
  std::string big = "local t = {}\n";
  for (int i = 1; i <= 20000; ++i) big += "t[" + std::to_string(i) + "] = 'x'\n";
  const std::string large = write("large.lua", big + "return #t");
  EXPECT_EQ(runFile(large), "20000");
  EXPECT_EQ(figure("files.cached"), "1");  // over a quarter of the cache: never kept
}

// vesko.ClearCache() while a kept chunk runs, itself or nested.
TEST_F(FileCacheTest, EmptyingTheCachesWhileAKeptChunkRuns) {
  const std::string path = write(
      "clearing.lua",
      "local before = 'kept' vesko.ClearCache() collectgarbage() collectgarbage() "
      "local n = tonumber(vesko.Evaluate('Vesko_RunScript(\"vesko.ClearCache() return 7\")')) "
      "collectgarbage() return before .. (function() return n * 6 end)()");
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(runFile(path), "kept42");
    EXPECT_EQ(run("return 1"), "1");
    EXPECT_EQ(run("return 1"), "1");
  }
  EXPECT_EQ(figure("texts.cached"), "1");  // "return 1", kept again after each run of the file
  EXPECT_EQ(figure("files.cached"), "0");  // the file cleared itself while it ran
  EXPECT_EQ(figure("files.hits") + "," + figure("files.misses"), "0,4");
  EXPECT_EQ(figure("texts.evictions") + "," + figure("files.evictions"), "0,0");

  // Finalizers that empty the caches, run by the collector in the midst of
  // loading and keeping chunks.
  EXPECT_EQ(run("for i = 1, 200 do local p = newproxy(true) "
                "getmetatable(p).__gc = function() vesko.ClearCache() end end return 1"),
            "1");
  for (int i = 0; i < 50; ++i) {
    const std::string text =
        "local t = {} for i = 1, 50 do t[i] = {i} end return " + std::to_string(i % 7) + " + #t";
    EXPECT_EQ(run(text), std::to_string(i % 7 + 50));
    EXPECT_EQ(runFile(path), "kept42");
  }
}

}  // namespace
}  // namespace vesko_test
