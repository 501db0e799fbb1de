// Vesko_RunFile: path rules, loading and results.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;
namespace fs = std::filesystem;

class RunFileTest : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    // A folder with a non-ASCII name: the path is used as UTF-8 bytes.
    folder_ = fs::temp_directory_path() / ("vesko-r\xC3\xA4tt-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    vesko_host::overrideFilePath("file:" + folder_.string() + "/Sales.sqlite");
  }
  void TearDown() override {
    vesko_host::overrideFilePath(std::nullopt);
    fs::remove_all(folder_);
    PluginTest::TearDown();
  }
  std::string write(const std::string& name, const std::string& text) {
    const fs::path path = folder_ / name;
    std::ofstream(path) << text;
    return path.string();
  }

  fs::path folder_;
};

TEST_F(RunFileTest, AbsoluteAndRelativePaths) {
  const std::string absolute = write("twice.lua", "local n = ... return n * 2");
  EXPECT_EQ(runFile(absolute, {numberValue(21)}), "42");
  EXPECT_EQ(lastError(), "0");
  write("relative.lua", "return 'from the database folder'");
  EXPECT_EQ(runFile("relative.lua"), "from the database folder");
  fs::create_directories(folder_ / "scripts");
  write("scripts/report.lua", "return 'report'");
  EXPECT_EQ(runFile("scripts/report.lua"), "report");
  // A "file:" prefix of its own is part of a relative name.
  write("file:odd.lua", "return 'odd'");
  EXPECT_EQ(runFile("file:odd.lua"), "odd");
  EXPECT_EQ(runFile("a"), "?");
  EXPECT_EQ(lastError("number"), "3002");
}

TEST_F(RunFileTest, AServerDatabaseCannotResolveRelativePaths) {
  const std::string absolute = write("abs.lua", "return 'absolute'");
  vesko_host::overrideFilePath("fmnet:/server/Sales");
  Value result;
  EXPECT_EQ(runFile("abs.lua", {}, &result), "?");
  EXPECT_EQ(lastError(), "3004: Unable to resolve into relative file path.");
  EXPECT_EQ(runFile(absolute), "absolute");
  vesko_host::overrideFilePath("file:NoFolder.sqlite");
  EXPECT_EQ(runFile("abs.lua"), "?");
  EXPECT_EQ(lastError("number"), "3004");
}

TEST_F(RunFileTest, MissingAndBrokenFiles) {
  Value result;
  EXPECT_EQ(runFile("missing.lua", {}, &result), "?");
  EXPECT_EQ(lastError(), "3002: File not found or is not readable.");
  EXPECT_EQ(result.kind, FM_KIND_TEXT);
  EXPECT_EQ(result.text, "");

  const std::string broken = write("broken.lua", "return +");
  EXPECT_EQ(runFile(broken), "?");
  EXPECT_EQ(lastError("number"), "3010");
  EXPECT_EQ(lastError("message").rfind(broken + ":1:", 0), 0u) << lastError();

  const std::string failing = write("failing.lua", "\n\nerror('late')");
  EXPECT_EQ(runFile(failing), "?");
  EXPECT_EQ(lastError(), "3020: " + failing + ":3: late");

  // The folder itself is no script file.
  EXPECT_EQ(runFile(""), "?");
  EXPECT_EQ(lastError(), "3002: File not found or is not readable.");
}

TEST_F(RunFileTest, OnlyRegularFilesAreLoadedAndNothingBlocks) {
  // A named pipe with no writer: opening it to read used to wait for one,
  // for ever, before any time limit ran.
  const fs::path pipe = folder_ / "pipe.lua";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  auto pending = std::async(std::launch::async, [&] { return runFile(pipe.string()); });
  if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    close(open(pipe.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
    FAIL() << "Vesko_RunFile blocked on a named pipe";
  }
  EXPECT_EQ(pending.get(), "?");
  EXPECT_EQ(lastError(), "3002: File not found or is not readable.");

  // Devices, also behind a link: one never ends, one is empty.
  for (const char* device : {"/dev/zero", "/dev/null"}) {
    const fs::path link = folder_ / "device.lua";
    fs::remove(link);
    fs::create_symlink(device, link);
    Value result;
    EXPECT_EQ(runFile(link.string(), {}, &result), "?") << device;
    EXPECT_EQ(lastError(), "3002: File not found or is not readable.") << device;
    EXPECT_EQ(result.kind, FM_KIND_TEXT);
  }

  // A link to a regular file is a regular file.
  fs::create_symlink(write("target.lua", "return 'through the link'"), folder_ / "link.lua");
  EXPECT_EQ(runFile("link.lua"), "through the link");
}

TEST_F(RunFileTest, LoadingKeepsLineNumbersAndAcceptsPrecompiledChunks) {
  const std::string hashed = write("hashed.lua", "#!/usr/bin/lua\n\nerror('third line')");
  EXPECT_EQ(runFile(hashed), "?");
  EXPECT_EQ(lastError(), "3020: " + hashed + ":3: third line");

  // A chunk written by string.dump, with and without a "#" line before it.
  const std::string compiled = (folder_ / "compiled.luac").string();
  const std::string marked = (folder_ / "marked.luac").string();
  EXPECT_EQ(run("local code = string.dump(function(n) return (n or 20) + 1 end) "
                "local plain, hashed = io.open(..., 'wb'), io.open(select(2, ...), 'wb') "
                "plain:write(code) plain:close() hashed:write('#!x\\n', code) hashed:close()",
                {textValue(compiled), textValue(marked)}),
            "");
  EXPECT_EQ(runFile(compiled, {numberValue(41)}), "42");
  EXPECT_EQ(runFile(marked), "21");

  // A large file arrives whole through the reader's buffer.
  std::string big = "local s = 0\n";
  for (int i = 0; i < 5000; ++i) big += "s = s + " + std::to_string(i) + "\n";
  EXPECT_EQ(runFile(write("big.lua", big + "return s")), "12497500");
}

TEST_F(RunFileTest, NothingReturnedGivesTheEmptyText) {
  Value result;
  EXPECT_EQ(runFile(write("nothing.lua", "local x = 1"), {}, &result), "");
  EXPECT_EQ(result.kind, FM_KIND_TEXT);
  EXPECT_EQ(runFile(write("table.lua", "return {}"), {}, &result), "");
  EXPECT_EQ(result.kind, FM_KIND_TEXT);
  EXPECT_EQ(runFile(write("hash.lua", "#!/usr/bin/lua\nreturn 'shebang skipped'")),
            "shebang skipped");
}

}  // namespace
}  // namespace vesko_test
