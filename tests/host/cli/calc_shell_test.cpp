// vesko-calc as a shell: what continues a calculation, what Tab offers, and
// the whole session at a pseudo-terminal with the real plug-in.
#include "host/cli/calc_shell.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/cli/line_editor.h"
#include "tests/host/cli/terminal_run.h"

namespace vesko_test {
namespace {

using vesko_host::continuesOnNextLine;
using vesko_host::LineEditor;

TEST(CalcShellTest, OpenTextCommentOrParenthesisContinues) {
  for (const char* open : {"Upper(\"ab", "(1 +", "Left(\"x\"; 2", "1 /* note", "If(1; (2; 3)",
                           "\"a\" & \"b\\\"", "Vesko_RunScript(\"return 1\"\n"})
    EXPECT_TRUE(continuesOnNextLine(open)) << open;
  for (const char* whole : {"1 + 1", "\"a(b\"", "Upper(\"x\")", "1)", "/* ( */ 2", "1 // (", "",
                            "1 +", "Upper(\"x\") Upper(\"y\")"})
    EXPECT_FALSE(continuesOnNextLine(whole)) << whole;
}

TEST(CalcShellTest, TabOffersBuiltinsInAnyLetterCase) {
  EXPECT_EQ(vesko_host::functionNamesStartingWith("ge"),
            (std::vector<std::string>{"Get", "GetAsNumber", "GetAsText"}));
  EXPECT_EQ(vesko_host::functionNamesStartingWith("TIME"),
            (std::vector<std::string>{"Time", "Timestamp"}));
  EXPECT_TRUE(vesko_host::functionNamesStartingWith("Zz").empty());
}

TEST(CalcShellTest, TabCompletesTheWordBeforeTheCursor) {
  LineEditor editor("> ");
  editor.setCompleter(vesko_host::functionNamesStartingWith);
  editor.feed("1 & upp\t");
  EXPECT_EQ(editor.line(), "1 & Upper");
  editor.feed("(getast\t");
  EXPECT_EQ(editor.line(), "1 & Upper(GetAsText");

  LineEditor growing("> ");
  growing.setCompleter(vesko_host::functionNamesStartingWith);
  growing.feed("Ge\t");
  EXPECT_EQ(growing.line(), "Get");                      // what the three names share
  const std::string listed = growing.feed("\t").output;  // no more to share: listed
  EXPECT_NE(listed.find("Get  GetAsNumber  GetAsText"), std::string::npos);
  EXPECT_EQ(growing.line(), "Get");

  LineEditor nothing("> ");
  nothing.setCompleter(vesko_host::functionNamesStartingWith);
  EXPECT_EQ(nothing.feed("zz\t").output.find('\a') != std::string::npos, true);
  EXPECT_EQ(nothing.feed(" \t").output.find('\a') != std::string::npos, true);  // no word
  EXPECT_EQ(nothing.line(), "zz ");
  // In the middle of a line only the word before the cursor changes.
  nothing.feed("\x01lo\t");  // Home
  EXPECT_EQ(nothing.line(), "Lowerzz ");
  EXPECT_EQ(nothing.cursor(), 5u);
}

class ShellSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TerminalRun().open()) GTEST_FAIL() << "cannot run: no pseudo-terminals here";
    ASSERT_NE(mkdtemp(folder_), nullptr);
  }
  void TearDown() override {
    std::remove((std::string(folder_) + "/.vesko_calc_history").c_str());
    rmdir(folder_);
  }
  char folder_[64] = "/tmp/vesko_shell_XXXXXX";
};

TEST_F(ShellSessionTest, CommandsErrorsContinuationAndTab) {
  TerminalRun run;
  ASSERT_TRUE(run.open() && run.start(folder_, {}));
  EXPECT_NE(run.output().find("Type a calculation, or .help for help."), std::string::npos);
  ASSERT_TRUE(run.answers(".help\r", ".functions"));
  ASSERT_TRUE(run.answers(".functions\r", "Vesko_RunScript( luaScriptText"));
  ASSERT_TRUE(run.answers(".nonsense\r", "unknown command .nonsense"));
  ASSERT_TRUE(run.answers("Vesko_RunScript(\"error('boom', 0)\")\r", "? 3020: boom\r\n"));
  ASSERT_TRUE(run.answers(".stats\r", "functions.Vesko_RunScript.failures 1\r\n"));
  ASSERT_TRUE(run.answers("(1 +\r", "\r\n", "  ...> "));
  ASSERT_TRUE(run.answers("2)\r", "3\r\n"));
  ASSERT_TRUE(run.answers("Upper(\"a\r", "\r\n", "  ...> "));
  ASSERT_TRUE(run.answers("b\")\r", "A\r\nB\r\n"));
  ASSERT_TRUE(run.answers("Vesko_RunSc\t(\"return 5\")\r", "5\r\n"));
  ASSERT_TRUE(run.answers("vesko_run\t", "Vesko_RunFile  Vesko_RunScript"));
  ASSERT_TRUE(run.type("\x15"));  // Ctrl-U: the line cleared
  ASSERT_TRUE(run.answers("(1\r", "", "  ...> "));
  ASSERT_TRUE(run.type("\x04"));  // the input ends inside a calculation: it is evaluated
  EXPECT_TRUE(run.waitFor("? 1207"));
  // Ctrl-D only once the next prompt shows: before it, the terminal is
  // still in cooked mode and would take the key as an end of file there.
  EXPECT_TRUE(run.waitFor("vesko> "));
  EXPECT_EQ(run.end(), 2);
  EXPECT_TRUE(run.settingsRestored());
}

TEST_F(ShellSessionTest, CtrlCWhileACalculationRunsKeepsTheSession) {
  TerminalRun run;
  ASSERT_TRUE(run.open() && run.start(folder_, {}));
  ASSERT_TRUE(run.answers("Vesko_RunScript(\"kept = 41 return kept\")\r", "41\r\n"));
  // The script tells when it runs (in capitals, unlike the line's echo), so
  // that Ctrl-C comes during the run.
  ASSERT_TRUE(
      run.type("Vesko_RunScript(\"io.write(('started'):upper()) io.flush() "
               "local t = os.clock() while os.clock() - t < 1 do end return 'done'\")\r"));
  ASSERT_TRUE(run.waitFor("STARTED"));
  ASSERT_TRUE(run.type("\x03"));
  ASSERT_TRUE(run.waitFor("done\r\n"));
  ASSERT_TRUE(run.waitFor("Ctrl-C does not stop a calculation"));
  ASSERT_TRUE(run.waitFor("vesko> "));
  ASSERT_TRUE(run.answers("Vesko_RunScript(\"return kept + 1\")\r", "42\r\n"));
  ASSERT_TRUE(run.answers(".quit\r", ""));
  EXPECT_EQ(run.end(), 0);
}

// The Lua mode: chunks over several lines, values as lua5.1 shows them,
// errors inline, completion from the live interpreter, one history entry
// per chunk, Ctrl-R, and the mode kept for the next session.
TEST_F(ShellSessionTest, LuaModeAtATerminal) {
  const std::string history = std::string(folder_) + "/.vesko_calc_history";
  {
    TerminalRun run;
    ASSERT_TRUE(run.open() && run.start(folder_, {}));
    // A line without output shows once more at Enter, then the prompt.
    auto quiet = [&run](const std::string& line, const std::string& prompt = "lua> ") {
      return run.answers(line + "\r", line + "\x1b[K\r\n", prompt);
    };
    ASSERT_TRUE(quiet(".lua"));
    ASSERT_TRUE(quiet("x = 6 * 7"));
    ASSERT_TRUE(run.answers("=x, type(x)\r", "42\tnumber\r\n", "lua> "));
    ASSERT_TRUE(run.answers("x + 1\r", "43\r\n", "lua> "));
    ASSERT_TRUE(quiet("function f(a)", "  >> "));
    ASSERT_TRUE(quiet("  return a * 2", "  >> "));
    ASSERT_TRUE(quiet("end"));
    // Up recalls it as one entry.
    ASSERT_TRUE(run.answers("\x1b[A",
                            "function f(a)\xE2\x86\xB5  return a * 2\xE2\x86\xB5"
                            "end",
                            ""));
    ASSERT_TRUE(run.type("\x15"));
    ASSERT_TRUE(run.answers("f(21)\r", "42\r\n", "lua> "));
    ASSERT_TRUE(
        run.answers("f({})\r", "stdin:2: attempt to perform arithmetic on local 'a'", "lua> "));
    ASSERT_TRUE(run.answers(".traceback\r", "stack traceback:\r\n\tstdin:2: in function", "lua> "));
    EXPECT_EQ(run.output().find("vesko-calc: a chunk"), std::string::npos);  // its own frame
    ASSERT_TRUE(quiet(".traceback on"));
    ASSERT_TRUE(run.answers("f(nil)\r", "(a nil value)\r\nstack traceback:", "lua> "));
    ASSERT_TRUE(run.answers("vesko.Evalu\t(\"1 + 1\")\r", "2\r\n", "lua> "));
    ASSERT_TRUE(run.answers("string.rev\t(\"ab\")\r", "ba\r\n", "lua> "));
    ASSERT_TRUE(quiet("xx = {alpha = 1, alps = 2}"));
    ASSERT_TRUE(run.answers("xx.a\t", "xx.al", ""));
    ASSERT_TRUE(run.answers("\t", "xx.alpha  xx.alps", ""));
    ASSERT_TRUE(
        run.answers("\x15"
                    "error('printed', 0)\r",
                    "printed\r\n", "lua> "));

    // The calculations share the interpreter; .mode json shows errors as
    // errors and a text "?" as a result.
    ASSERT_TRUE(quiet(".calc", "vesko> "));
    ASSERT_TRUE(run.answers("Vesko_RunScript(\"return x\")\r", "42\r\n"));
    ASSERT_TRUE(quiet(".mode json", "vesko> "));
    ASSERT_TRUE(run.answers("Vesko_RunScript(\"return '?'\")\r", "{\"result\":\"?\"}\r\n"));
    ASSERT_TRUE(run.answers("Vesko_RunScript(\"return 1/0\")\r", "{\"error\":1218,"));
    ASSERT_TRUE(run.answers(".mode\r", "json\r\n"));
    ASSERT_TRUE(quiet(".mode text", "vesko> "));

    // Ctrl-R finds the function, Enter runs it whole again.
    ASSERT_TRUE(quiet(".lua"));
    ASSERT_TRUE(
        run.answers("\x15"
                    "\x12"
                    "a * 2",
                    "reverse-i-search 'a * 2': function f(a)", ""));
    ASSERT_TRUE(run.answers("\r", "", "lua> "));
    ASSERT_TRUE(run.answers("=f(4)\r", "8\r\n", "lua> "));
    EXPECT_EQ(run.end(), 1);  // the chunks that failed
    EXPECT_TRUE(run.settingsRestored());
  }
  // One entry per chunk, its lines kept together.
  std::ifstream file(history);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("\nfunction f(a)\r  return a * 2\rend\n"), std::string::npos);
  {
    TerminalRun run;  // in the Lua mode, as the last one was
    ASSERT_TRUE(run.open() && run.start(folder_, {}, "lua> "));
    EXPECT_NE(run.output().find("Lua mode, as last time"), std::string::npos);
    ASSERT_TRUE(run.answers("=x\r", "nil\r\n", "lua> "));
    ASSERT_TRUE(run.answers(".calc\r", "", "vesko> "));
    EXPECT_EQ(run.end(), 0);
  }
}

}  // namespace
}  // namespace vesko_test
