// Vesko_LastError("traceback"): the call chain of the last run-time error,
// for each run function, and nothing else of the error record changed.
#include <filesystem>
#include <fstream>

#include "tests/support/plugin_fixture.h"

namespace vesko_test {
namespace {

using vesko_host::numberValue;
using vesko_host::textValue;
using TracebackTest = PluginTest;

// Three levels, one per line, so every line of the traceback is told apart.
constexpr const char* kChain =
    "function inner(x) error('failed at ' .. x) end\n"
    "function middle(x) inner(x) end\n"
    "function outer(x) middle(x) return 'unreached' end\n";

TEST_F(TracebackTest, AThreeLevelChainFromEveryRunFunction) {
  EXPECT_EQ(run(std::string(kChain) + "outer(1)"), "?");
  const std::string chunk = "[string \"function inner(x) error('failed at ' .. x) ...\"]";
  EXPECT_EQ(lastError(), "3020: " + chunk + ":1: failed at 1");
  EXPECT_EQ(lastError("traceback"),
            "stack traceback:\n"
            "\t[C]: in function 'error'\n\t" +
                chunk + ":1: in function 'inner'\n\t" + chunk + ":2: in function 'middle'\n\t" +
                chunk + ":3: in function 'outer'\n\t" + chunk + ":4: in main chunk");
  EXPECT_EQ(lastError("traceback"), lastError("traceback"));  // reading changes nothing
  EXPECT_EQ(lastError("number"), "3020");

  // A coroutine's own stack: the function the host called has no name.
  EXPECT_EQ(run(kChain), "");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("outer"), numberValue(2)}), "?");
  EXPECT_EQ(lastError("message"), chunk + ":1: failed at 2");
  EXPECT_EQ(lastError("traceback"),
            "stack traceback:\n"
            "\t[C]: in function 'error'\n\t" +
                chunk + ":1: in function 'inner'\n\t" + chunk + ":2: in function 'middle'\n\t" +
                chunk + ":3: in function <" + chunk + ":3>");

  // Looking the name up can fail too.
  EXPECT_EQ(run("lookup = setmetatable({}, {__index = function(_, key) outer(key) end})"), "");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("lookup.x")}), "?");
  EXPECT_NE(lastError("traceback").find(":3: in function 'outer'"), std::string::npos)
      << lastError("traceback");

  // Resumed: the frames are those after the yield.
  EXPECT_EQ(run("function steps() local x = coroutine.yield(1) outer(x) end"), "");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("steps")}), "1");
  EXPECT_EQ(lastError("traceback"), "");
  EXPECT_EQ(text("Vesko_ResumeFunction", {numberValue(3)}), "?");
  EXPECT_EQ(lastError("message"), chunk + ":1: failed at 3");
  const std::string resumed = lastError("traceback");
  EXPECT_NE(resumed.find(":3: in function 'outer'\n"), std::string::npos) << resumed;
  EXPECT_NE(
      resumed.find("[string \"function steps() local x = coroutine.yield(...\"]:1: in function <"),
      std::string::npos)
      << resumed;
}

TEST_F(TracebackTest, AScriptFileNamesItsPath) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("vesko-traceback-" + std::to_string(getpid()));
  std::ofstream(path) << kChain << "outer(4)\n";
  EXPECT_EQ(text("Vesko_RunFile", {textValue(path.string())}), "?");
  const std::string traceback = lastError("traceback");
  std::filesystem::remove(path);
  EXPECT_NE(traceback.find("\n\t" + path.string() + ":2: in function 'middle'\n"),
            std::string::npos)
      << traceback;
  EXPECT_NE(traceback.find("\n\t" + path.string() + ":4: in main chunk"), std::string::npos)
      << traceback;
}

TEST_F(TracebackTest, OnlyARunTimeErrorOfTheLastCallHasOne) {
  auto failed = [&] {
    EXPECT_EQ(run("error('x')"), "?");
    EXPECT_NE(lastError("traceback"), "");
  };
  failed();
  EXPECT_EQ(run("return +"), "?");  // a syntax error never ran
  EXPECT_EQ(lastError("number"), "3010");
  EXPECT_EQ(lastError("traceback"), "");
  failed();
  EXPECT_EQ(run("return 1"), "1");
  EXPECT_EQ(lastError("traceback"), "");
  failed();
  EXPECT_EQ(run("pcall(error, 'caught') return 2"), "2");
  EXPECT_EQ(lastError("traceback"), "");
  failed();
  EXPECT_EQ(text("Vesko_Version"), "1.5.0");
  EXPECT_EQ(lastError("traceback"), "");
  failed();
  EXPECT_EQ(text("Vesko_RunFile", {textValue("/nonexistent/x.lua")}), "?");
  EXPECT_EQ(lastError("traceback"), "");
  failed();
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("noSuchFunction")}), "");
  EXPECT_EQ(lastError("traceback"), "");
  EXPECT_EQ(run("function gen() coroutine.yield(1) end"), "");
  failed();
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("gen")}), "1");
  EXPECT_EQ(lastError("traceback"), "");

  // A value of any kind may be the error; the traceback does not touch it.
  EXPECT_EQ(run("error(setmetatable({}, {__tostring = function() error('no') end}))"), "?");
  EXPECT_EQ(lastError(), "3020: (error object is a table value)");
  EXPECT_EQ(lastError("traceback").rfind("stack traceback:\n\t[C]: in function 'error'", 0), 0u);
  EXPECT_EQ(run("error(12.5, 0)"), "?");
  EXPECT_EQ(lastError(), "3020: 12.5");
}

TEST_F(TracebackTest, ADeepStackIsShortenedAsDebugTracebackDoes) {
  EXPECT_EQ(run("local function down(n) if n == 0 then error('bottom') end return 1 + down(n - 1) "
                "end\n down(100)"),
            "?");
  const std::string traceback = lastError("traceback");
  std::size_t lines = 0;
  for (char c : traceback) lines += c == '\n';
  EXPECT_EQ(lines, 22u) << traceback;  // 11 levels, "...", then 10 more
  EXPECT_NE(traceback.find("\n\t...\n"), std::string::npos);

  // Even a stack that overflows keeps its message and code.
  EXPECT_EQ(run("local function down() return 1 + down() end down()"), "?");
  EXPECT_EQ(lastError("number"), "3020");
  EXPECT_NE(lastError("message").find("stack overflow"), std::string::npos);
  EXPECT_NE(lastError("traceback").find("\n\t...\n"), std::string::npos);
}

// The number of lines after "stack traceback:".
std::size_t levelLines(const std::string& traceback) {
  std::size_t lines = 0;
  for (char c : traceback) lines += c == '\n';
  return lines;
}

TEST_F(TracebackTest, ShortenedStacksKeepTheirEnds) {
  // Around the length where shortening starts, every level is either shown
  // or counted once: the shown ones are the first and the last.
  std::size_t before = 0;
  for (int depth = 10; depth <= 30; ++depth) {
    EXPECT_EQ(run("local function down(n) if n == 0 then error('bottom') end "
                  "return 1 + down(n - 1) end\n down(" +
                  std::to_string(depth) + ")"),
              "?");
    const std::string traceback = lastError("traceback");
    const std::size_t lines = levelLines(traceback);
    EXPECT_GE(lines, before) << traceback;
    EXPECT_LE(lines, 22u) << traceback;
    if (traceback.find("\n\t...\n") != std::string::npos) {
      EXPECT_EQ(lines, 22u) << traceback;
    }
    EXPECT_NE(traceback.find("[C]: in function 'error'\n"), std::string::npos) << traceback;
    EXPECT_NE(traceback.find("in main chunk"), std::string::npos) << traceback;
    before = lines;
  }
}

TEST_F(TracebackTest, TailCallsAreCountedNotVisited) {
  // A million tail calls, each a level of its own.
  const char* script =
      "local n = 0 local function f() n = n + 1 if n == 1e6 then error('bottom') end "
      "return f() end f()";
  EXPECT_EQ(run(script), "?");
  std::string traceback = lastError("traceback");
  EXPECT_EQ(levelLines(traceback), 22u) << traceback;
  EXPECT_NE(traceback.find("(tail call): ?"), std::string::npos) << traceback;
  EXPECT_NE(traceback.find("in main chunk"), std::string::npos) << traceback;
  // The same on a coroutine.
  ASSERT_EQ(run(std::string("function tails() ") + script + " end"), "");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("tails")}), "?");
  traceback = lastError("traceback");
  EXPECT_EQ(levelLines(traceback), 23u) << traceback;  // read from level 0
  EXPECT_EQ(traceback.find("in main chunk"), std::string::npos) << traceback;
}

TEST_F(TracebackTest, ANestedCallsFailureIsNotTheOuterOnes) {
  // The inner call fails, the outer one succeeds: nothing to show.
  EXPECT_EQ(run(std::string(kChain) +
                "local ok = pcall(vesko.Evaluate, 'Vesko_RunScript(\"outer(5)\")') return 'fine'"),
            "fine");
  EXPECT_EQ(lastError("traceback"), "");
  // Read inside the outer call, the inner call's chain runs on through
  // the host calculation into the outer script.
  const std::string inner =
      run("function wrap() vesko.Evaluate('Vesko_RunScript(\"outer(6)\")') "
          "return vesko.Evaluate('Vesko_LastError(\"traceback\")') end return wrap()");
  EXPECT_NE(inner.find(":3: in function 'outer'\n\t[string \"outer(6)\"]:1: in main chunk\n"
                       "\t[C]: in function 'Evaluate'\n"),
            std::string::npos)
      << inner;
  // Both fail: the outer call's own chain.
  EXPECT_EQ(run("function wrap() vesko.Evaluate('Vesko_RunScript(\"outer(6)\")') "
                "error('outer too') end wrap()"),
            "?");
  const std::string traceback = lastError("traceback");
  EXPECT_NE(traceback.find(":1: in function 'wrap'"), std::string::npos) << traceback;
  EXPECT_EQ(traceback.find("'inner'"), std::string::npos) << traceback;
}

TEST_F(TracebackTest, TheTimeLimitStillStopsALoop) {
  ASSERT_EQ(text("Vesko_Timeout", {numberValue(1)}), "1");
  for (const char* script :
       {"while true do end", "while true do pcall(function() while true do end end) end"}) {
    EXPECT_EQ(run(script), "?") << script;
    EXPECT_EQ(lastError(), "3020: Time limit exceeded.");
  }
  EXPECT_EQ(run("function spin() while true do end end"), "");
  EXPECT_EQ(text("Vesko_CallFunction", {textValue("spin")}), "?");
  EXPECT_NE(lastError("message").find("Time limit exceeded."), std::string::npos);
  EXPECT_NE(lastError("traceback").find("in function <"), std::string::npos);
}

// An interpreter with a memory ceiling, nearly all of it in use.
using TracebackMemoryTest = PluginWithCeilingTest<8000000>;

TEST_F(TracebackMemoryTest, TheErrorStaysWhenMemoryIsShort) {
  // The message exists before memory runs out, so raising it needs none.
  EXPECT_EQ(run("local message, keep = 'after filling', {} "
                "pcall(function() while true do keep[#keep + 1] = {} end end) "
                "error(message, 0)"),
            "?");
  EXPECT_EQ(lastError(), "3020: after filling");
  EXPECT_EQ(lastError("traceback").rfind("stack traceback:\n\t[C]: in function 'error'", 0), 0u);
}

}  // namespace
}  // namespace vesko_test
